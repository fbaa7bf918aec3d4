// The demo installer's command-line reader: the web installer's exact line,
// quoting, trailing backslashes before quotes, spaces, and every bad form.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "tools/demo/InstallerCommandLine.h"

using zvdemo::InstallerArgs;

namespace {

std::wstring WindowLine(const std::wstring& dir, const std::wstring& progress) {
  return L" /verysilent /zelvane_down /wait_run /path=\"" + dir + L"\" /progress=\"" + progress + L"\"";
}

}  // namespace

TEST_CASE("the web installer's exact command line is read, trailing backslash and spaces kept") {
  struct Case {
    std::wstring line, dir, progress;
  };
  const std::vector<Case> cases = {
      {WindowLine(L"D:\\Apps\\", L"X:\\temp.progress"), L"D:\\Apps\\", L"X:\\temp.progress"},
      {WindowLine(L"C:\\Program Files (x86)\\My Apps\\", L"C:\\Program Files\\zelvane_down\\zelvane\\temp.progress"),
       L"C:\\Program Files (x86)\\My Apps\\", L"C:\\Program Files\\zelvane_down\\zelvane\\temp.progress"},
      // Drive root, a folder without its backslash, doubled backslashes at the end.
      {WindowLine(L"D:\\", L"D:\\p"), L"D:\\", L"D:\\p"},
      {WindowLine(L"D:\\Apps", L"D:\\p"), L"D:\\Apps\\", L"D:\\p"},
      {WindowLine(L"D:\\Apps\\\\", L"D:\\p"), L"D:\\Apps\\", L"D:\\p"},
      // The copy's form: the program name first, quoted, then the switches.
      {L"\"C:\\Users\\A B\\Temp\\zv-demo-1\\zelvane-download.tmp\"" + WindowLine(L"D:\\A B\\", L"D:\\c d\\e"),
       L"D:\\A B\\", L"D:\\c d\\e"},
      {L"setup.exe" + WindowLine(L"D:\\x\\", L"D:\\y"), L"D:\\x\\", L"D:\\y"},
      // Switch names in any case, any order, tabs; quotes around the whole token; UNC and slashes.
      {L"\t/PATH=\"E:\\a\\\"\t/Wait_Run /progress=E:\\p.txt /VERYSILENT /zelvane_down", L"E:\\a\\", L"E:\\p.txt"},
      {L"\"/path=E:\\with space\\\" \"/progress=E:\\p q\" /verysilent /zelvane_down /wait_run", L"E:\\with space\\",
       L"E:\\p q"},
      {WindowLine(L"\\\\server\\share\\apps\\", L"C:/data/temp.progress"), L"\\\\server\\share\\apps\\",
       L"C:\\data\\temp.progress"},
      // Non-ASCII folder names pass through untouched.
      {WindowLine(L"C:\\Programme\\\u00dcber \u4e2d\u6587\\", L"C:\\\u0436.progress"),
       L"C:\\Programme\\\u00dcber \u4e2d\u6587\\", L"C:\\\u0436.progress"},
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.line.begin(), c.line.end()));
    InstallerArgs args;
    std::wstring error;
    REQUIRE(zvdemo::ParseInstallerCommandLine(c.line, args, error));
    CHECK(args.installDir == c.dir);
    CHECK(args.progressFile == c.progress);
  }
}

TEST_CASE("bad command lines are refused with a reason and leave the result untouched") {
  const std::vector<std::wstring> bad = {
      L"",
      L"   ",
      L"setup.exe",
      L" /verysilent /zelvane_down /wait_run",
      L" /verysilent /zelvane_down /wait_run /path=\"D:\\Apps\\\"",                      // no progress
      L" /verysilent /zelvane_down /wait_run /progress=\"D:\\p\"",                       // no path
      L" /zelvane_down /wait_run /path=\"D:\\Apps\\\" /progress=\"D:\\p\"",              // no /verysilent
      L" /verysilent /wait_run /path=\"D:\\Apps\\\" /progress=\"D:\\p\"",                // no /zelvane_down
      L" /verysilent /zelvane_down /path=\"D:\\Apps\\\" /progress=\"D:\\p\"",            // no /wait_run
      WindowLine(L"D:\\Apps\\", L"D:\\p") + L" /silent",                                  // unknown switch
      WindowLine(L"D:\\Apps\\", L"D:\\p") + L" /path=\"D:\\Other\\\"",                   // twice
      WindowLine(L"D:\\Apps\\", L"D:\\p") + L" /verysilent",                              // twice
      L" /verysilent /zelvane_down /wait_run /path=\"D:\\Apps\\ /progress=\"D:\\p\"",    // quote eaten: unknown token
      L" /verysilent /zelvane_down /wait_run /path=\"D:\\Apps\\\" /progress=\"D:\\p",    // unterminated
      WindowLine(L"", L"D:\\p"),
      WindowLine(L"D:\\Apps\\", L""),
      WindowLine(L"Apps\\", L"D:\\p"),                                                    // relative
      WindowLine(L"\\Apps\\", L"D:\\p"),                                                  // no drive
      WindowLine(L"D:Apps\\", L"D:\\p"),                                                  // drive-relative
      WindowLine(L"D:\\Apps\\*\\", L"D:\\p"),
      WindowLine(L"D:\\Ap|ps\\", L"D:\\p"),
      WindowLine(L"D:\\Apps\\..\\..\\Windows\\", L"D:\\p"),
      WindowLine(L"D:\\Apps\\", L"D:\\data\\..\\p"),
      WindowLine(L"D:\\Apps\\x:stream\\", L"D:\\p"),
      WindowLine(L"D:\\Apps\\", L"D:\\data\\"),                                           // progress is a folder
      WindowLine(std::wstring(L"D:\\A\x01pps\\"), L"D:\\p"),                              // control character
  };
  for (const auto& line : bad) {
    CAPTURE(std::string(line.begin(), line.end()));
    InstallerArgs args;
    args.installDir = L"untouched";
    std::wstring error;
    CHECK_FALSE(zvdemo::ParseInstallerCommandLine(line, args, error));
    CHECK_FALSE(error.empty());
    CHECK(args.installDir == L"untouched");
  }
}

TEST_CASE("the copy's command line reads back to the same arguments") {
  InstallerArgs args{L"C:\\Program Files (x86)\\My Apps\\", L"C:\\Program Files\\zelvane_down\\zelvane\\temp.progress"};
  std::wstring line = zvdemo::BuildCopyCommandLine(L"C:\\Users\\a b\\Temp\\zv-demo-7\\zelvane-download.tmp", args);
  CHECK(line == L"\"C:\\Users\\a b\\Temp\\zv-demo-7\\zelvane-download.tmp\" /verysilent /zelvane_down /wait_run "
                L"/path=\"C:\\Program Files (x86)\\My Apps\\\" /progress=\"C:\\Program Files\\zelvane_down\\zelvane\\temp.progress\"");
  InstallerArgs back;
  std::wstring error;
  REQUIRE(zvdemo::ParseInstallerCommandLine(line, back, error));
  CHECK(back.installDir == args.installDir);
  CHECK(back.progressFile == args.progressFile);
}

TEST_CASE("the product folder follows the folder names, leaving out empty ones") {
  CHECK(zvdemo::ProductFolder(L"D:\\Apps\\", L"A", L"B") == L"D:\\Apps\\A\\B\\");
  CHECK(zvdemo::ProductFolder(L"D:\\Apps\\", L"", L"B") == L"D:\\Apps\\B\\");
  CHECK(zvdemo::ProductFolder(L"D:\\Apps\\", L"A", L"") == L"D:\\Apps\\A\\");
  CHECK(zvdemo::ProductFolder(L"D:\\Apps\\", L"", L"") == L"D:\\Apps\\");
}

TEST_CASE("splitting keeps backslashes literal and empty quoted tokens") {
  std::vector<std::wstring> tokens;
  REQUIRE(zvdemo::SplitCommandLine(L" a\\\" b\" \"\" c", tokens));
  REQUIRE(tokens.size() == 3);
  CHECK(tokens[0] == L"a\\ b");
  CHECK(tokens[1] == L"");
  CHECK(tokens[2] == L"c");
  CHECK_FALSE(zvdemo::SplitCommandLine(L"a \"b", tokens));
}
