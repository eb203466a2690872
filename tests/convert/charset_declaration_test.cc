// Declarations of Shift_JIS made UTF-8 in every written form, others left, one added when none.
#include "convert/charset_declaration.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace lowtags {
namespace {

const std::string kAdded = "<meta charset=\"UTF-8\">";

TEST(CharsetDeclarationTest, RewritesTheHeadAndFindsItsEnd) {
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
       "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">"},
      {"<HEAD><META HTTP-EQUIV=Content-Type CONTENT=\"text/html;charset = SJIS\">",
       "<HEAD><META HTTP-EQUIV=Content-Type CONTENT=\"text/html;charset = UTF-8\">"},
      {"<head>\n<META HTTP-EQUIV=\"Content-Type\"\nCONTENT=\"text/html; charset=x-sjis\">\n",
       "<head>\n<META HTTP-EQUIV=\"Content-Type\"\nCONTENT=\"text/html; charset=UTF-8\">\n"},
      {"<meta http-equiv=content-type content=text/html;charset=MS_Kanji>",
       "<meta http-equiv=content-type content=text/html;charset=UTF-8>"},
      {"<head><meta charset=Windows-31J>", "<head><meta charset=UTF-8>"},
      {"<HEAD>\n<META CHARSET=\"cp932\">", "<HEAD>\n<META CHARSET=\"UTF-8\">"},
      {"<meta\ncharset='shift-jis'/>", "<meta\ncharset='UTF-8'/>"},
      {"<?xml version=\"1.0\" encoding=\"SHIFT_JIS\"?>\n<html><head>",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html><head>"},
      {"<head><meta charset=\"EUC-JP\">", "<head><meta charset=\"EUC-JP\">"},
      {"<html><HEAD><title>t</title></HEAD>", "<html><HEAD>" + kAdded + "<title>t</title></HEAD>"},
      {"<head lang=\"ja\">\n<title>", "<head lang=\"ja\">" + kAdded + "\n<title>"},
      {"<head><!-- <meta charset=Shift_JIS> --></head>",
       "<head>" + kAdded + "<!-- <meta charset=Shift_JIS> --></head>"},
      {"<head><meta name=x content=\"charset=Shift_JIS\">",
       "<head>" + kAdded + "<meta name=x content=\"charset=Shift_JIS\">"},
      {"<header><p>", "<header><p>"},
      {"<p>text\n", "<p>text\n"},
      {"<head><meta charset=Shift_JIS", "<head><meta charset=Shift_JIS"}};
  // clang-format on
  for (const auto& [head, expected] : cases) EXPECT_EQ(DeclareUtf8(head), expected);
  // The end of the head is found in any case, from the given place on.
  EXPECT_TRUE(HoldsHeadEnd("<title>x</title></HEAD>", 0));
  EXPECT_TRUE(HoldsHeadEnd("<p><Body", 0));
  EXPECT_FALSE(HoldsHeadEnd("</head>", 1));
  EXPECT_FALSE(HoldsHeadEnd("<head><bod", 0));
}

}  // namespace
}  // namespace lowtags
