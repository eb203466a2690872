#include "driver/help.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <type_traits>

namespace lowtags {

// Stored in UTF-8 so that it reads as it prints; code page 932 is made from it when needed.
// Only characters that code page 932 has are used.
const std::string_view kHelpText =
    "使い方: lowtags [-abcfijkmnorsuw] [--utf8] [--lf] [--] <htmlfiles>...\n"
    "        lowtags --help | --version | -usage\n"
    "\n"
    "Shift_JIS (CP932) の HTML ファイルのタグの中の英大文字を小文字（-c では小文字を大文字）\n"
    "にします。\"…\" の中とコメントの中はそのままです。結果は標準出力へ（-w では元の\n"
    "ファイルへ）書き、改行は CR LF です。ファイル名 - は標準入力を読みます。\n"
    "\n"
    "オプション:\n"
    "  -a         全角の英字を半角にします。\n"
    "  -b         タグ内の bgcolor 指定を外します。\n"
    "  -c         タグ内の小文字 (a～z) を大文字 (A～Z) にします。\n"
    "  -f         リンクタグを外します（複数行に渡るものは除きます）。\n"
    "  -i         タグ括弧エラー（括弧が閉じられていない等）を無視します。\n"
    "  -j         最後が '>' で終わっていない行を結合します（<PRE>…</PRE> の中は除きます）。\n"
    "  -k         半角カナを全角のカナにします。\n"
    "  -m         イメージタグを外します。\n"
    "  -n         全角の数字を半角にします。\n"
    "  -o         フォントタグを外します。\n"
    "  -r         コメント (<!-- ... -->) を削除します。\n"
    "  -s         bgsound タグを外します。\n"
    "  -u         リンクやイメージの参照を全て同じディレクトリ内の参照にします。\n"
    "  -w         "
    "元のファイルに上書きします（コピーしたファイルに対して行うことをお勧めします）。\n"
    "             標準入力 (-) には上書きできません。Shift_JIS でないファイルはそのままです。\n"
    "  --utf8     結果とメッセージを UTF-8 で書き、文字コードの宣言を UTF-8 にします。\n"
    "             -w では UTF-8 のファイルは変換済みとしてそのままにします。\n"
    "  --lf       改行を CR LF ではなく LF で書きます。\n"
    "  --         これより後の引数はすべてファイル名です（- で始まる名前も）。\n"
    "  --help     この説明を表示します。\n"
    "  --version  版を表示します。\n"
    "  -usage     元の説明を Shift_JIS で表示します。UTF-8 の端末では\n"
    "             lowtags -usage | iconv -f CP932 -t UTF-8\n"
    "  長いオプション (--help など) は最初のファイル名より前に、単独の引数として書きます。\n"
    "\n"
    "終了ステータス:\n"
    "  0  すべてのファイルを変換しました（--help、--version、-usage も 0）。\n"
    "  1  使い方の誤り、または -w でファイルを書き戻せずに途中で終了しました。\n"
    "  2  最後まで処理しましたが、変換できなかったファイルがあります\n"
    "     (not found、failed to convert などのメッセージ)。\n"
    "\n"
    "詳しくは man lowtags（ソースでは docs/lowtags.1）を見てください。\n";

namespace {

struct IconvCloser {
  void operator()(void* cd) const { ::iconv_close(static_cast<iconv_t>(cd)); }
};
using Converter = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

int ToCodePage932(std::string_view utf8, std::string* sjis) {
  const iconv_t cd = ::iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return errno;
  const Converter converter(cd);
  std::string in(utf8);
  // Code page 932 never takes more bytes for a character than UTF-8 does.
  std::string result(utf8.size(), '\0');
  char* from = in.data();
  std::size_t from_left = in.size();
  char* to = result.data();
  std::size_t to_left = result.size();
  if (::iconv(cd, &from, &from_left, &to, &to_left) == static_cast<std::size_t>(-1)) return errno;
  if (::iconv(cd, nullptr, nullptr, &to, &to_left) == static_cast<std::size_t>(-1)) return errno;
  result.resize(result.size() - to_left);
  *sjis = std::move(result);
  return 0;
}

}  // namespace

int HelpText(Charset charset, std::string* text) {
  if (charset == Charset::kUtf8) {
    text->assign(kHelpText);
    return 0;
  }
  return ToCodePage932(kHelpText, text);
}

}  // namespace lowtags
