// Attribute value syntax: numbers, rectangles, colours, image descriptions,
// language tokens, "Default" lists and window attributes.
#include <doctest/doctest.h>

#include "ui/markup_tree/MarkupValues.h"

using namespace SkinUI;

TEST_CASE("integers, sizes and rectangles") {
  CHECK(ParseInt(L"26") == 26);
  CHECK(ParseInt(L"  -7px") == -7);
  CHECK(ParseInt(L"x") == 0);
  CHECK(ParseInt(L"99999999999999999999") == 2147483647);
  struct {
    const wchar_t* text;
    MarkupRect rect;
  } rects[] = {
      {L"10,270,640,290", {10, 270, 640, 290}},
      {L"1, 2, 3, 4", {1, 2, 3, 4}},
      {L"1;2x3|4", {1, 2, 3, 4}},
      {L"165,0,0", {165, 0, 0, 0}},
      {L"", {0, 0, 0, 0}},
      {L"5", {5, 0, 0, 0}},
  };
  for (const auto& c : rects) {
    MarkupRect r = ParseRect(c.text);
    CHECK(r.left == c.rect.left);
    CHECK(r.top == c.rect.top);
    CHECK(r.right == c.rect.right);
    CHECK(r.bottom == c.rect.bottom);
  }
  MarkupSize s = ParseSize(L"650,360");
  CHECK(s.cx == 650);
  CHECK(s.cy == 360);
  CHECK(ParseSize(L"2,").cy == 0);
}

TEST_CASE("colours and booleans") {
  CHECK(ParseColor(L"#FFFFFFFF") == 0xFFFFFFFFu);
  CHECK(ParseColor(L"#00CCCCCC") == 0x00CCCCCCu);
  CHECK(ParseColor(L"  #FFB6B3FF") == 0xFFB6B3FFu);
  CHECK(ParseColor(L"FF0000") == 0x00FF0000u);
  CHECK(ParseColor(L"#") == 0u);
  CHECK(ParseColor(L"#123456789ABC") == 0xFFFFFFFFu);
  CHECK(ParseBool(L"true"));
  CHECK_FALSE(ParseBool(L"True"));
  CHECK(ParseBool(L"True", true));
  CHECK_FALSE(ParseBool(L"1", true));
}

TEST_CASE("image descriptions") {
  ImageDescription plain = ParseImageDescription(L"img\\button_normal.png");
  CHECK(plain.file == L"img\\button_normal.png");
  CHECK_FALSE(plain.hasDest);

  ImageDescription listed = ParseImageDescription(L"file='img/checked.png' dest='0,8,14,22'");
  CHECK(listed.file == L"img/checked.png");
  REQUIRE(listed.hasDest);
  CHECK(listed.dest.left == 0);
  CHECK(listed.dest.top == 8);
  CHECK(listed.dest.right == 14);
  CHECK(listed.dest.bottom == 22);

  ImageDescription all = ParseImageDescription(
      L" file = 'a.png' source='1,2,3,4' corner='5,5,5,5' mask='#FF00FF' fade='300' hole='true' "
      L"xtiled='true' ytiled='false' hsl='true' restype='PNG' res='12' color='#FF112233'");
  CHECK(all.file == L"a.png");
  CHECK(all.source.right == 3);
  CHECK(all.corner.bottom == 5);
  CHECK(all.hasMask);
  CHECK(all.mask == 0x00FF00FFu);
  CHECK(all.fade == 255);
  CHECK(all.hole);
  CHECK(all.xtiled);
  CHECK_FALSE(all.ytiled);
  CHECK(all.hsl);
  CHECK(all.resType == L"PNG");
  CHECK(all.res == L"12");
  CHECK(all.hasColor);
  CHECK(all.color == 0xFF112233u);
  CHECK(ParseImageDescription(L"scale9='1,2,3,4'").corner.top == 2);

  // Malformed lists keep what came before the fault.
  ImageDescription broken = ParseImageDescription(L"file='a.png' dest='1,2,3,4 fade='10'");
  CHECK(broken.file == L"a.png");
  ImageDescription unquoted = ParseImageDescription(L"file='a.png' dest=1,2,3,4 fade='9'");
  CHECK(unquoted.file == L"a.png");
  CHECK_FALSE(unquoted.hasDest);
  CHECK(unquoted.fade == 255);
  CHECK(ParseImageDescription(L"file='' dest='1,1,2,2'").file.empty());
  CHECK(ParseImageDescription(L"'''''=").file.empty());
}

TEST_CASE("language tokens") {
  const std::map<int, std::wstring> declared = {{0, L"Install"}, {12, L"Hide"}};
  struct {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"%{0} now", L"Install now"},
      {L"%{12}%{12}", L"HideHide"},
      {L"%{3} stays", L"%{3} stays"},
      {L"%{} %{x} %{0", L"%{} %{x} %{0"},
      {L"%{99999999999999}", L"%{99999999999999}"},
      {L"100%", L"100%"},
      {L"%{%{0}}", L"%{Install}"},
  };
  for (const auto& c : cases) CHECK(ReplaceLanguageTokens(c.in, declared) == c.out);
}

TEST_CASE("Default value lists") {
  MarkupAttributes list = ParseAttributeList(L"textcolor=\"#FF000000\" align=\"center\" font=\"1\"");
  REQUIRE(list.size() == 3);
  CHECK(list[1].name == L"align");
  CHECK(list[1].value == L"center");
  CHECK(ParseAttributeList(L"a=\"1\" b=2 c=\"3\"").size() == 1);
  CHECK(ParseAttributeList(L"a=\"1").empty());
  CHECK(ParseAttributeList(L"").empty());
}

TEST_CASE("window attributes") {
  WindowSettings settings;
  ApplyWindowAttributes({{L"size", L"650,360"},
                         {L"SizeBox", L"4,4,4,4"},
                         {L"caption", L"0,0,0,290"},
                         {L"roundcorner", L"5,5"},
                         {L"showdirty", L"TRUE"},
                         {L"NoActivate", L"true"},
                         {L"defaultfontcolor", L"#FF222222"},
                         {L"mytag", L"x"}},
                        settings);
  CHECK(settings.hasSize);
  CHECK(settings.size.cx == 650);
  CHECK(settings.sizeBox.right == 4);
  CHECK(settings.caption.bottom == 290);
  CHECK(settings.roundCorner.cy == 5);
  CHECK(settings.showDirty);
  CHECK_FALSE(settings.noActivate);  // "noactivate" compares case-sensitively
  CHECK(settings.colors.at(L"defaultfontcolor") == 0xFF222222u);
  REQUIRE(settings.custom.size() == 2);
  CHECK(settings.custom[0].name == L"NoActivate");
  CHECK(settings.custom[1].name == L"mytag");
}
