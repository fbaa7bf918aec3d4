// Under Wine, with the installer's own resources compiled in: the settings
// archive unpacks into a data folder, the LanguageManager loads the texts of
// the UI language the process runs under (the test runs once per language,
// with ZV_EXPECT_LANGUAGE naming the language expected), and the skin archive
// describes the skin that language asks for.
#include <doctest/doctest.h>

#include <cstdlib>
#include <filesystem>

#include "common/LanguageManager.h"
#include "system/Strings.h"
#include "tests/support/TestSupport.h"
#include "ui/archive/ExtractZip.h"
#include "ui/archive/ImageDecoder.h"
#include "ui/archive/ResourceLoader.h"
#include "ui/archive/SkinResources.h"
#include "ui/markup_tree/DialogBuilder.h"

using namespace SkinUI;

TEST_CASE("settings unpack and load for the process's UI language; the skin follows") {
  const char* expected = std::getenv("ZV_EXPECT_LANGUAGE");
  const std::wstring language = Utf8ToWide(expected ? expected : "English");
  const bool rtl = language == L"Arabic" || language == L"Hebrew";

  std::string settings;
  REQUIRE(GetPlatformResourceLoader().LoadResource(kResourceTypeRcData, 105, settings));
  zvtest::TempDir data("startup");
  const std::wstring folder = Utf8ToWide(data.path().string()) + L"\\language\\";
  // Twice: the second run replaces the files of the first.
  REQUIRE(ExtractZipToFolder(settings.data(), settings.size(), folder));
  REQUIRE(ExtractZipToFolder(settings.data(), settings.size(), folder));
  for (const char* name : {"language.ini", "productInfo.ini", "text.ini"})
    CHECK(std::filesystem::file_size(data.path() / "language" / name) > 0);

  LanguageManager manager;
  manager.Init(folder);
  manager.SetCustom(L"com_english");
  CHECK(manager.GetLanguageName() == language);
  CHECK(manager.IsRtl() == rtl);
  CHECK(manager.GetText(L"STR_MESSAGEBOX_TITLE").find(L"Quillory") != std::wstring::npos);
  CHECK(manager.GetDownloadUrl().find(L"/quillory/quillory.exe") != std::wstring::npos);
  CHECK(manager.GetLicenceUrl().find(L"&lang=" + language + L"&custom=com_english") !=
        std::wstring::npos);
  if (language != L"English") CHECK(manager.GetText(L"STR_INSTALL") != L"Install");
  if (language == L"Arabic") CHECK(manager.GetText(L"STR_INSTALL").find(L"\u062a") != std::wstring::npos);
  if (language == L"Hebrew") CHECK(manager.GetText(L"STR_INSTALL").find(L"\u05d4") != std::wstring::npos);

  std::string skin;
  REQUIRE(GetPlatformResourceLoader().LoadResource(kResourceTypeSkinZip, 104, skin));
  static std::string kept;  // a registered memory archive stays for the process
  kept = skin;
  SetResourceArchive(kept.data(), kept.size());
  CDialogBuilder builder;
  DescribedLayout layout;
  REQUIRE(builder.Describe(rtl ? L"skin_rtl.xml" : L"skin.xml", L"", layout));
  REQUIRE(layout.controls.size() == 1);
  std::string png;
  std::wstring error;
  REQUIRE(LoadSkinImage(L"img\\button_normal.png", png, error));
  DecodedImage image;
  std::string decodeError;
  REQUIRE(DecodeImage(png, image, decodeError));
  CHECK(image.width == 168);
  CHECK(image.height == 46);
}
