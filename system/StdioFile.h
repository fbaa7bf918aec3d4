// A C stdio file opened by its wide name, closed when the handle goes away. Used in place of the iostream
// file classes, whose locale machinery would weigh on the static executable.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "system/FileOps.h"

struct StdioFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

// `mode` is an fopen mode of ASCII letters such as "rb" or "wb".
inline StdioFile OpenStdioFile(const std::wstring& path, const char* mode) {
  return StdioFile(OpenFileWide(path, mode));
}

// Copies the bytes of `from` into `to`, created or emptied first; false on
// any failure (which may leave `to` incomplete).
inline bool CopyStdioFile(const std::wstring& from, const std::wstring& to) {
  StdioFile in = OpenStdioFile(from, "rb");
  if (!in) return false;
  StdioFile out = OpenStdioFile(to, "wb");
  if (!out) return false;
  std::vector<char> buffer(std::size_t{1} << 16);
  while (const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get()))
    if (std::fwrite(buffer.data(), 1, got, out.get()) != got) return false;
  return !std::ferror(in.get()) && std::fclose(out.release()) == 0;
}

// Reads up to bytes.size() bytes into `bytes` and shortens it to what was read.
inline void ReadStdioFile(std::FILE* file, std::string& bytes) {
  bytes.resize(bytes.empty() ? 0 : std::fread(&bytes[0], 1, bytes.size(), file));
}
