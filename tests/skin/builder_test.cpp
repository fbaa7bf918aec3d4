// The layout builder over the shipped skin files (as plain files and from an
// archive in memory) and over small layouts with includes and faults.
#include <doctest/doctest.h>

#include <filesystem>
#include <functional>

#include "system/Strings.h"
#include "tests/skin/ZipWriter.h"
#include "tests/support/TestSupport.h"
#include "ui/archive/SkinResources.h"
#include "ui/markup_tree/DialogBuilder.h"

using namespace SkinUI;
namespace fs = std::filesystem;

namespace {

fs::path SkinDir() { return zvtest::SourceDir() / "resources" / "skin"; }

// Depth-first search by the "name" attribute.
const MarkupNode* FindNamed(const std::vector<MarkupNode>& nodes, const std::wstring& name) {
  for (const MarkupNode& node : nodes) {
    if (node.Attribute(L"name") == name) return &node;
    if (const MarkupNode* found = FindNamed(node.children, name)) return found;
  }
  return nullptr;
}

std::vector<std::wstring> ChildNames(const MarkupNode& node) {
  std::vector<std::wstring> names;
  for (const MarkupNode& child : node.children) {
    std::wstring name = child.Attribute(L"name");
    names.push_back(name.empty() ? L"<" + child.className + L">" : name);
  }
  return names;
}

std::size_t CountNodes(const std::vector<MarkupNode>& nodes) {
  std::size_t count = nodes.size();
  for (const MarkupNode& node : nodes) count += CountNodes(node.children);
  return count;
}

struct SkinFromFolder {
  SkinFromFolder() {
    ResetSkinResources();
    SetResourceFolder(Utf8ToWide(SkinDir().string()));
  }
  ~SkinFromFolder() { ResetSkinResources(); }
};

// Checks of the shipped left-to-right skin.
void CheckLtrSkin(const DescribedLayout& layout) {
  CHECK(layout.rootName == L"Window");
  WindowSettings window;
  ApplyWindowAttributes(layout.windowAttributes, window);
  CHECK(window.size.cx == 650);
  CHECK(window.size.cy == 360);
  CHECK(window.caption.bottom == 290);
  CHECK(window.sizeBox.left == 4);
  REQUIRE(layout.fonts.size() == 2);
  CHECK(layout.fonts[0].name == L"Segoe UI Semibold");
  CHECK(layout.fonts[0].size == 26);
  CHECK(layout.fonts[1].id == 1);
  CHECK(layout.fonts[1].size == 14);

  REQUIRE(layout.controls.size() == 1);
  const MarkupNode& frame = layout.controls[0];
  CHECK(frame.className == L"VerticalLayout");
  CHECK(ParseColor(frame.Attribute(L"bordercolor")) == 0x00CCCCCCu);
  const MarkupNode* tabs = FindNamed(layout.controls, L"switch");
  REQUIRE(tabs);
  CHECK(tabs->className == L"TabLayout");
  REQUIRE(tabs->children.size() == 2);
  // The includes are expanded into their pages.
  CHECK(FindNamed(tabs->children[0].children, L"btn_install"));
  CHECK(FindNamed(tabs->children[1].children, L"progress_download"));

  const MarkupNode* install = FindNamed(layout.controls, L"btn_install");
  REQUIRE(install);
  CHECK(install->className == L"Button");
  CHECK(install->Attribute(L"text") == L"Install >>");
  CHECK(install->Attribute(L"align") == L"center");  // written without a blank before it
  CHECK(install->Attribute(L"disabledimage") == L"img\\button_disable.png");
  const MarkupNode* start = FindNamed(layout.controls, L"btn_start");
  REQUIRE(start);
  CHECK_FALSE(start->FindAttribute(L"disabledimage"));

  const MarkupNode* agree = FindNamed(layout.controls, L"chk_agree");
  REQUIRE(agree);
  CHECK(agree->className == L"CheckBox");
  ImageDescription selected = ParseImageDescription(agree->Attribute(L"selectedimage"));
  CHECK(selected.file == L"img/checked.png");
  CHECK(selected.dest.top == 8);
  CHECK(selected.dest.right == 14);
  CHECK(agree->Attribute(L"textpadding") == L"20,0,0,0");

  const MarkupNode* edit = FindNamed(layout.controls, L"edit_path");
  REQUIRE(edit);
  CHECK(edit->Attribute(L"borderround") == L"2,2");

  const MarkupNode* dots = FindNamed(layout.controls, L"buttonLayout");
  REQUIRE(dots);
  CHECK(dots->Attribute(L"float") == L"true");
  REQUIRE(dots->children.size() == 12);
  for (int i = 0; i < 10; ++i) {
    const MarkupNode& option = dots->children[static_cast<std::size_t>(i + 1)];
    CHECK(option.className == L"Option");
    CHECK(option.Attribute(L"name") == L"option_" + std::to_wstring(i));
    CHECK(option.Attribute(L"group") == L"bannerControlGroup");
  }
}

}  // namespace

TEST_CASE("the shipped skin.xml describes the whole window") {
  SkinFromFolder skin;
  CDialogBuilder builder;
  DescribedLayout layout;
  REQUIRE_MESSAGE(builder.Describe(L"skin.xml", L"", layout), WideToUtf8(builder.ErrorMessage()));
  CheckLtrSkin(layout);
  const MarkupNode* path = FindNamed(layout.controls, L"bottomLayout");
  REQUIRE(path);
  const MarkupNode* row = FindNamed(layout.controls, L"label_path");
  REQUIRE(row);
  CHECK(row->Attribute(L"align") == L"right");
}

TEST_CASE("the shipped skin_rtl.xml mirrors the rows") {
  SkinFromFolder skin;
  CDialogBuilder builder;
  DescribedLayout layout;
  REQUIRE_MESSAGE(builder.Describe(L"skin_rtl.xml", L"", layout),
                  WideToUtf8(builder.ErrorMessage()));
  const MarkupNode* edit = FindNamed(layout.controls, L"edit_path");
  REQUIRE(edit);
  CHECK(edit->Attribute(L"width") == L"370");
  CHECK(FindNamed(layout.controls, L"label_path")->Attribute(L"align") == L"left");
  const MarkupNode* banner = FindNamed(layout.controls, L"banner");
  REQUIRE(banner);
  CHECK_FALSE(banner->Attribute(L"bkimage").empty());
  const MarkupNode* progress = FindNamed(layout.controls, L"progress_download");
  REQUIRE(progress);
  CHECK(progress->Attribute(L"foreimage") == L"img\\progress_rtl.png");
  CHECK(FindNamed(layout.controls, L"buttonLayout")->Attribute(L"pos") == L"10,280,640,290");
  const MarkupNode* fold = FindNamed(layout.controls, L"chk_fold");
  REQUIRE(fold);
  CHECK(ParseImageDescription(fold->Attribute(L"normalimage")).file == L"img/fold_rtl.png");
}

TEST_CASE("the skin reads the same from an archive in memory, with any slash and case") {
  std::vector<zvtest::ZipFixtureEntry> entries;
  for (const char* name : {"skin.xml", "home.xml", "banner.xml"})
    entries.push_back({name, zvtest::ReadFile(SkinDir() / name), true});
  entries.push_back({"img/", "", false});
  entries.push_back({"img/browse-df.png", zvtest::ReadFile(SkinDir() / "img" / "browse-df.png"), true});
  static std::string zip;  // registered memory archives stay for the process
  zip = zvtest::MakeZip(entries);
  ResetSkinResources();
  SetResourceArchive(zip.data(), zip.size());
  CHECK(GetResourceArchiveName() == L"membuffer");
  CHECK(GetArchiveHandle() != nullptr);
  // A second memory archive is ignored.
  const std::string other = zvtest::MakeZip({{"skin.xml", "<Other/>", true}});
  SetResourceArchive(other.data(), other.size());

  CDialogBuilder builder;
  DescribedLayout layout;
  REQUIRE(builder.Describe(L"skin.xml", L"", layout));
  CheckLtrSkin(layout);
  std::string a, b;
  std::wstring error;
  CHECK(LoadSkinImage(L"img\\browse-df.png", a, error));
  CHECK(LoadSkinImage(L"IMG/Browse-DF.PNG", b, error));
  CHECK(a == b);
  CHECK_FALSE(LoadSkinFile(L"missing.xml", a, error));
  CHECK(error == L"Could not find ziped file");
  // An image outside the archive is found on disk by its path.
  CHECK(LoadSkinImage(Utf8ToWide((SkinDir() / "img" / "logo.png").string()), a, error));
  ResetSkinResources();
}

TEST_CASE("includes: count, missing files, self-inclusion, manager elements") {
  zvtest::TempDir dir("builder");
  zvtest::WriteFile(dir.path() / "row.xml",
                    "<?xml version=\"1.0\"?><Window mininfo=\"10,10\"><Font id=\"3\" name=\"Arial\"/>"
                    "<Button name=\"b\"/><Label/></Window>");
  zvtest::WriteFile(dir.path() / "loop.xml", "<Window><Include source=\"loop.xml\"/><Control/></Window>");
  zvtest::WriteFile(dir.path() / "empty.xml", "");
  zvtest::WriteFile(dir.path() / "broken.xml", "<Window><Button></Window>");
  ResetSkinResources();
  SetResourceFolder(Utf8ToWide(dir.path().string()));

  CDialogBuilder builder;
  DescribedLayout layout;
  REQUIRE(builder.Describe(
      L"<Window size=\"10,20\"><Default name=\"Button\" value=\"font=&quot;1&quot; align=&quot;left&quot;\"/>"
      L"<MultiLanguage id=\"4\" value=\"Hello\"/><Font name=\"NoId\"/><Font id=\"-1\" name=\"Bad\"/>"
      L"<HorizontalLayout><Include source=\"row.xml\" count=\"2\"/></HorizontalLayout>"
      L"<Include source=\"missing.xml\"/><Include source=\"empty.xml\"/><Include source=\"broken.xml\"/>"
      L"<Include source=\"loop.xml\"/><Include source=\"row.xml\" count=\"0\"/>"
      L"<Unknown name=\"u\"><Button name=\"inner\"/></Unknown><image name=\"x.png\"/></Window>",
      L"", layout));
  REQUIRE(layout.controls.size() == 3);
  const MarkupNode& row = layout.controls[0];
  CHECK(ChildNames(row) == std::vector<std::wstring>{L"b", L"<Label>", L"b", L"<Label>"});
  // loop.xml includes itself: one level is created, the loop is cut.
  CHECK(layout.controls[1].className == L"Control");
  // Unknown elements stay in the tree; the control factory skips them with their subtree.
  CHECK(layout.controls[2].className == L"Unknown");
  CHECK(layout.controls[2].children.size() == 1);
  // The include's root attributes follow the main root's, once per inclusion.
  REQUIRE(layout.windowAttributes.size() == 3);
  CHECK(layout.windowAttributes[1].name == L"mininfo");
  REQUIRE(layout.fonts.size() == 2);
  CHECK(layout.fonts[0].name == L"Arial");
  REQUIRE(layout.DefaultsFor(L"button"));
  CHECK(layout.DefaultsFor(L"button")->size() == 2);
  CHECK(layout.languageTexts.at(4) == L"Hello");
  REQUIRE(layout.images.size() == 1);
  CHECK(layout.images[0].name == L"x.png");
  ResetSkinResources();
}

TEST_CASE("failed loads describe nothing and say why") {
  zvtest::TempDir dir("builder-fail");
  zvtest::WriteFile(dir.path() / "empty.xml", "");
  zvtest::WriteFile(dir.path() / "big.xml", std::string(kMaxLayoutFileSize + 1, ' '));
  ResetSkinResources();
  SetResourceFolder(Utf8ToWide(dir.path().string()));
  struct {
    const wchar_t* source;
    const wchar_t* type;
    const wchar_t* message;
  } cases[] = {
      {L"missing.xml", L"", L"Error opening file"},
      {L"empty.xml", L"", L"File is empty"},
      {L"big.xml", L"", L"File too large"},
      {L"<Window><Button></Window>", L"", L"Unmatched closing tag"},
      {L"abc", L"xml", L"Resource id is not a number"},
      {L"123", L"xml", L"Could not load resource"},
  };
  for (const auto& c : cases) {
    CDialogBuilder builder;
    DescribedLayout layout;
    layout.rootName = L"stale";
    CHECK_FALSE(builder.Describe(c.source, c.type, layout));
    CHECK(builder.ErrorMessage() == c.message);
    CHECK(layout.rootName.empty());
    CHECK(layout.controls.empty());
  }
  ResetSkinResources();
}

TEST_CASE("a layout as a numeric resource, with its includes from resources too") {
  zvtest::TempDir dir("builder-res");
  fs::create_directories(dir.path() / "xml");
  zvtest::WriteFile(dir.path() / "xml" / "200", "<Window><Include source=\"201\" count=\"3\"/></Window>");
  zvtest::WriteFile(dir.path() / "xml" / "201", "<Window><Control name=\"c\"/></Window>");
  ResetSkinResources();
  SetResourceFolder(Utf8ToWide(dir.path().string()));
  CDialogBuilder builder;
  DescribedLayout layout;
  REQUIRE(builder.Describe(L"200", L"xml", layout));
  CHECK(CountNodes(layout.controls) == 3);
  ResetSkinResources();
}

TEST_CASE("randomly damaged copies of the shipped layouts never crash the reader or the builder") {
  // A fixed seed keeps the run reproducible; each copy gets a few byte
  // changes, insertions or cuts.
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const char* const sources[] = {"skin.xml", "home.xml", "banner_rtl.xml"};
  std::size_t parsed = 0;
  for (const char* name : sources) {
    const std::string original = zvtest::ReadFile(SkinDir() / name);
    REQUIRE_FALSE(original.empty());
    for (int round = 0; round < 400; ++round) {
      std::string text = original;
      const int edits = 1 + static_cast<int>(next() % 4);
      for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = next() % text.size();
        switch (next() % 3) {
          case 0: text[at] = "<>/=\"'&!?- a\x00\xff"[next() % 14]; break;
          case 1: text.insert(at, 1, "<\"/>&"[next() % 5]); break;
          default: text.resize(at); break;
        }
      }
      CXmlDocument doc;
      if (doc.LoadBytes(text.data(), text.size())) ++parsed;
      CDialogBuilder builder;
      DescribedLayout layout;
      std::wstring wide = Utf8ToWide(text);
      if (!wide.empty() && wide[0] == L'<') builder.Describe(wide, L"", layout);
      for (const MarkupNode& node : layout.controls)
        for (const MarkupAttribute& a : node.attributes) {
          ParseImageDescription(a.value);
          ParseRect(a.value);
          ParseColor(a.value);
        }
    }
  }
  // Some damage is harmless (inside text or values), most is not.
  CHECK(parsed > 0);
  CHECK(parsed < 1200);
}
