// Declarations of Shift_JIS made UTF-8 in every written form, others left, one added when none.
#include "convert/charset_declaration.h"

#include <gtest/gtest.h>

#include <string>

namespace lowtags {
namespace {

struct DeclarationCase {
  const char* name;
  std::string head;
  std::string expected;
};

void PrintTo(const DeclarationCase& c, std::ostream* os) { *os << c.name; }

class DeclarationTest : public ::testing::TestWithParam<DeclarationCase> {};

TEST_P(DeclarationTest, RewritesTheHead) {
  EXPECT_EQ(DeclareUtf8(GetParam().head), GetParam().expected);
}

const std::string kAdded = "<meta charset=\"UTF-8\">";

INSTANTIATE_TEST_SUITE_P(
    Forms, DeclarationTest,
    ::testing::Values(
        DeclarationCase{
            "http_equiv_quoted",
            "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">",
            "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">"},
        DeclarationCase{
            "http_equiv_upper_unquoted",
            "<HEAD><META HTTP-EQUIV=Content-Type CONTENT=\"text/html;charset = SJIS\">",
            "<HEAD><META HTTP-EQUIV=Content-Type CONTENT=\"text/html;charset = UTF-8\">"},
        DeclarationCase{"http_equiv_split_over_lines",
                        "<head>\n<META HTTP-EQUIV=\"Content-Type\"\nCONTENT=\"text/html; "
                        "charset=x-sjis\">\n",
                        "<head>\n<META HTTP-EQUIV=\"Content-Type\"\nCONTENT=\"text/html; "
                        "charset=UTF-8\">\n"},
        DeclarationCase{"http_equiv_value_unquoted",
                        "<meta http-equiv=content-type content=text/html;charset=MS_Kanji>",
                        "<meta http-equiv=content-type content=text/html;charset=UTF-8>"},
        DeclarationCase{"meta_charset_unquoted", "<head><meta charset=Windows-31J>",
                        "<head><meta charset=UTF-8>"},
        DeclarationCase{"meta_charset_upper", "<HEAD>\n<META CHARSET=\"cp932\">",
                        "<HEAD>\n<META CHARSET=\"UTF-8\">"},
        DeclarationCase{"meta_charset_single_quotes", "<meta\ncharset='shift-jis'/>",
                        "<meta\ncharset='UTF-8'/>"},
        DeclarationCase{"xml_declaration",
                        "<?xml version=\"1.0\" encoding=\"SHIFT_JIS\"?>\n<html><head>",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html><head>"},
        DeclarationCase{"other_encoding_kept", "<head><meta charset=\"EUC-JP\">",
                        "<head><meta charset=\"EUC-JP\">"},
        DeclarationCase{"head_without_declaration", "<html><HEAD><title>t</title></HEAD>",
                        "<html><HEAD>" + kAdded + "<title>t</title></HEAD>"},
        DeclarationCase{"head_with_attributes", "<head lang=\"ja\">\n<title>",
                        "<head lang=\"ja\">" + kAdded + "\n<title>"},
        DeclarationCase{"commented_declaration_ignored",
                        "<head><!-- <meta charset=Shift_JIS> --></head>",
                        "<head>" + kAdded + "<!-- <meta charset=Shift_JIS> --></head>"},
        DeclarationCase{"content_without_http_equiv",
                        "<head><meta name=x content=\"charset=Shift_JIS\">",
                        "<head>" + kAdded + "<meta name=x content=\"charset=Shift_JIS\">"},
        DeclarationCase{"header_is_no_head", "<header><p>", "<header><p>"},
        DeclarationCase{"no_head", "<p>text\n", "<p>text\n"},
        DeclarationCase{"unfinished_meta", "<head><meta charset=Shift_JIS",
                        "<head><meta charset=Shift_JIS"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(HeadEndTest, FoundInAnyCaseFromTheGivenPlace) {
  EXPECT_TRUE(HoldsHeadEnd("<title>x</title></HEAD>", 0));
  EXPECT_TRUE(HoldsHeadEnd("<Body bgcolor=red>", 0));
  EXPECT_FALSE(HoldsHeadEnd("</head>", 1));
  EXPECT_FALSE(HoldsHeadEnd("<head><bod", 0));
}

}  // namespace
}  // namespace lowtags
