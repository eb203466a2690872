// gen_corpus: writes the benchmark corpora for lowtags into a folder.
//
// Every corpus is Shift_JIS (CP932) HTML with CR LF line ends, built from a
// fixed-seed generator, so the same flags give the same bytes on every run and
// every machine. The page mix imitates late-1990s Japanese homepages; the other
// files push one cost each to its limit (very long lines, tag-dense lines, and
// lines that are nothing but tags, comments or half-width kana).
//
// The text never holds a stray '<' or '>', quoted values hold neither, and every
// tag closes on its own line or the next, so converting any corpus without
// options raises no bracket error.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lowtags::bench {
namespace {

// Bump whenever any corpus changes byte-wise; bench/run regenerates on a change.
constexpr std::string_view kVersion = "gen_corpus 2";

// A line longer than this reaches the converter in pieces of about this size.
constexpr std::size_t kPiece = 9999;
constexpr std::size_t kLongLine = 100000;
constexpr double kMegabyte = 1e6;

// ---------------------------------------------------------------------------
// Shift_JIS vocabulary. Bytes are spelled out so that the source stays UTF-8;
// the comment above each table shows the text. Several entries have a trail
// byte 0x5C (ソ, 表, 能, 予, 十, 申, 構, 貼) or an ASCII letter (ア, ホ, ペ, ...),
// the bytes a naive scanner mistakes for a backslash or a tag letter.

// clang-format off
// ようこそ ホームページ 更新履歴 掲示板 リンク集 日記 自己紹介 趣味の部屋 音楽
// ソフトウェア 表示 能力 予定 十月 申し込み メール ダウンロード 画像 写真 最新情報
// 工事中 キリ番 カウンター 相互リンク 構成 貼り付け 表紙 予約 機能 申請 ポイント ゲーム
// 攻略 小説 壁紙 素材 感想 質問 返事 友達 家族 旅行 北海道 東京 大阪 会社 学校 先生
// 今日 明日 昨日 新しい 楽しい 面白い パソコン インターネット プロバイダ 検索 作品 漫画
// アニメ 猫 犬 天気 仕事 休み 週末 映画 本 雑誌 料理 ラーメン 温泉 電車 携帯 ページ
// 管理人 訪問者 ㈱ソフト開発 第①回 Ⅱ型 ～
constexpr std::array<std::string_view, 82> kWords = {
    "\x82\xE6\x82\xA4\x82\xB1\x82\xBB", "\x83\x7A\x81\x5B\x83\x80\x83\x79\x81\x5B\x83\x57",
    "\x8D\x58\x90\x56\x97\x9A\x97\xF0", "\x8C\x66\x8E\xA6\x94\xC2",
    "\x83\x8A\x83\x93\x83\x4E\x8F\x57", "\x93\xFA\x8B\x4C", "\x8E\xA9\x8C\xC8\x8F\xD0\x89\xEE",
    "\x8E\xEF\x96\xA1\x82\xCC\x95\x94\x89\xAE", "\x89\xB9\x8A\x79",
    "\x83\x5C\x83\x74\x83\x67\x83\x45\x83\x46\x83\x41", "\x95\x5C\x8E\xA6", "\x94\x5C\x97\xCD",
    "\x97\x5C\x92\xE8", "\x8F\x5C\x8C\x8E", "\x90\x5C\x82\xB5\x8D\x9E\x82\xDD",
    "\x83\x81\x81\x5B\x83\x8B", "\x83\x5F\x83\x45\x83\x93\x83\x8D\x81\x5B\x83\x68",
    "\x89\xE6\x91\x9C", "\x8E\xCA\x90\x5E", "\x8D\xC5\x90\x56\x8F\xEE\x95\xF1",
    "\x8D\x48\x8E\x96\x92\x86", "\x83\x4C\x83\x8A\x94\xD4",
    "\x83\x4A\x83\x45\x83\x93\x83\x5E\x81\x5B", "\x91\x8A\x8C\xDD\x83\x8A\x83\x93\x83\x4E",
    "\x8D\x5C\x90\xAC", "\x93\x5C\x82\xE8\x95\x74\x82\xAF", "\x95\x5C\x8E\x86", "\x97\x5C\x96\xF1",
    "\x8B\x40\x94\x5C", "\x90\x5C\x90\xBF", "\x83\x7C\x83\x43\x83\x93\x83\x67",
    "\x83\x51\x81\x5B\x83\x80", "\x8D\x55\x97\xAA", "\x8F\xAC\x90\xE0", "\x95\xC7\x8E\x86",
    "\x91\x66\x8D\xDE", "\x8A\xB4\x91\x7A", "\x8E\xBF\x96\xE2", "\x95\xD4\x8E\x96",
    "\x97\x46\x92\x42", "\x89\xC6\x91\xB0", "\x97\xB7\x8D\x73", "\x96\x6B\x8A\x43\x93\xB9",
    "\x93\x8C\x8B\x9E", "\x91\xE5\x8D\xE3", "\x89\xEF\x8E\xD0", "\x8A\x77\x8D\x5A",
    "\x90\xE6\x90\xB6", "\x8D\xA1\x93\xFA", "\x96\xBE\x93\xFA", "\x8D\xF0\x93\xFA",
    "\x90\x56\x82\xB5\x82\xA2", "\x8A\x79\x82\xB5\x82\xA2", "\x96\xCA\x94\x92\x82\xA2",
    "\x83\x70\x83\x5C\x83\x52\x83\x93", "\x83\x43\x83\x93\x83\x5E\x81\x5B\x83\x6C\x83\x62\x83\x67",
    "\x83\x76\x83\x8D\x83\x6F\x83\x43\x83\x5F", "\x8C\x9F\x8D\xF5", "\x8D\xEC\x95\x69",
    "\x96\x9F\x89\xE6", "\x83\x41\x83\x6A\x83\x81", "\x94\x4C", "\x8C\xA2", "\x93\x56\x8B\x43",
    "\x8E\x64\x8E\x96", "\x8B\x78\x82\xDD", "\x8F\x54\x96\x96", "\x89\x66\x89\xE6", "\x96\x7B",
    "\x8E\x47\x8E\x8F", "\x97\xBF\x97\x9D", "\x83\x89\x81\x5B\x83\x81\x83\x93", "\x89\xB7\x90\xF2",
    "\x93\x64\x8E\xD4", "\x8C\x67\x91\xD1", "\x83\x79\x81\x5B\x83\x57", "\x8A\xC7\x97\x9D\x90\x6C",
    "\x96\x4B\x96\xE2\x8E\xD2", "\x87\x8A\x83\x5C\x83\x74\x83\x67\x8A\x4A\x94\xAD",
    "\x91\xE6\x87\x40\x89\xF1", "\x87\x55\x8C\x5E", "\x81\x60",
};
// は が を に で と の も から まで へ や
constexpr std::array<std::string_view, 12> kParticles = {
    "\x82\xCD", "\x82\xAA", "\x82\xF0", "\x82\xC9", "\x82\xC5", "\x82\xC6", "\x82\xCC", "\x82\xE0",
    "\x82\xA9\x82\xE7", "\x82\xDC\x82\xC5", "\x82\xD6", "\x82\xE2",
};
// です。 ます。 でした。 ました。 ですね！ だよ♪ かな？ と思います。 しました。
// ください。 をよろしく！ です（笑） …。 ですか？ ★ ☆ ◆ ■ →
constexpr std::array<std::string_view, 19> kEndings = {
    "\x82\xC5\x82\xB7\x81\x42", "\x82\xDC\x82\xB7\x81\x42", "\x82\xC5\x82\xB5\x82\xBD\x81\x42",
    "\x82\xDC\x82\xB5\x82\xBD\x81\x42", "\x82\xC5\x82\xB7\x82\xCB\x81\x49",
    "\x82\xBE\x82\xE6\x81\xF4", "\x82\xA9\x82\xC8\x81\x48",
    "\x82\xC6\x8E\x76\x82\xA2\x82\xDC\x82\xB7\x81\x42", "\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42",
    "\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81\x42", "\x82\xF0\x82\xE6\x82\xEB\x82\xB5\x82\xAD\x81\x49",
    "\x82\xC5\x82\xB7\x81\x69\x8F\xCE\x81\x6A", "\x81\x63\x81\x42",
    "\x82\xC5\x82\xB7\x82\xA9\x81\x48", "\x81\x9A", "\x81\x99", "\x81\x9F", "\x81\xA1", "\x81\xA8",
};
// ﾎｰﾑﾍﾟｰｼﾞ ｶﾞｲﾄﾞ ﾀﾞｳﾝﾛｰﾄﾞ ｿﾌﾄ ｹﾞｰﾑ ﾒｰﾙ ｺﾞﾒﾝﾅｻｲ
// ﾊﾟｿｺﾝ ｳﾞｧｲｵﾘﾝ ﾋﾟｱﾉ ｱﾘｶﾞﾄｳ ｢ｶｯｺ｣ ﾃﾞｰﾀ ﾍﾞｰｽ
// ﾌﾟﾛｸﾞﾗﾑ ﾎﾞﾀﾝ ｷﾞﾀｰ ｻﾞｯｸﾘ ｼﾞｮｰｸ ｽﾞｰﾑ ｾﾞﾛ ｿﾞｰﾝ ﾁﾞ
// ﾂﾞ ﾄﾞｱ ﾋﾞﾃﾞｵ ﾌﾞﾛｸﾞ ﾍﾟﾝ ﾎﾟｽﾄ ｱﾞ ｰ ｡ ､ ･
constexpr std::array<std::string_view, 34> kHalfWidth = {
    "\xCE\xB0\xD1\xCD\xDF\xB0\xBC\xDE", "\xB6\xDE\xB2\xC4\xDE", "\xC0\xDE\xB3\xDD\xDB\xB0\xC4\xDE",
    "\xBF\xCC\xC4", "\xB9\xDE\xB0\xD1", "\xD2\xB0\xD9", "\xBA\xDE\xD2\xDD\xC5\xBB\xB2",
    "\xCA\xDF\xBF\xBA\xDD", "\xB3\xDE\xA7\xB2\xB5\xD8\xDD", "\xCB\xDF\xB1\xC9",
    "\xB1\xD8\xB6\xDE\xC4\xB3", "\xA2\xB6\xAF\xBA\xA3", "\xC3\xDE\xB0\xC0", "\xCD\xDE\xB0\xBD",
    "\xCC\xDF\xDB\xB8\xDE\xD7\xD1", "\xCE\xDE\xC0\xDD", "\xB7\xDE\xC0\xB0", "\xBB\xDE\xAF\xB8\xD8",
    "\xBC\xDE\xAE\xB0\xB8", "\xBD\xDE\xB0\xD1", "\xBE\xDE\xDB", "\xBF\xDE\xB0\xDD", "\xC1\xDE",
    "\xC2\xDE", "\xC4\xDE\xB1", "\xCB\xDE\xC3\xDE\xB5", "\xCC\xDE\xDB\xB8\xDE", "\xCD\xDF\xDD",
    "\xCE\xDF\xBD\xC4", "\xB1\xDE", "\xB0", "\xA1", "\xA4", "\xA5",
};

// Addresses, file names and ASCII text of the period. No entry holds '<', '>'
// or '"', since they end up inside quoted values and running text.
constexpr std::array<std::string_view, 9> kDirs = {
    "../", "../diary/", "", "./", "../../hobby/", "/~taro/", "soft/",
    "http://www.geocities.co.jp/Playtown/1234/", "http://member.nifty.ne.jp/hanako/"};
constexpr std::array<std::string_view, 9> kPages = {
    "index.htm", "diary9812.htm", "link.htm", "bbs.cgi", "profile.html",
    "dl/lzh.htm", "midi/list.htm", "top.htm", "kiriban.html"};
constexpr std::array<std::string_view, 5> kImageDirs = {
    "../img/", "img/", "../../images/", "/~taro/gif/", ""};
constexpr std::array<std::string_view, 9> kImages = {
    "new.gif", "line.gif", "counter.gif", "bg.jpg", "photo01.jpg",
    "banner.gif", "mail.gif", "back.gif", "a.gif"};
constexpr std::array<std::string_view, 8> kColors = {
    "#FF0000", "#0000FF", "#008000", "#FFFFCC", "#800080", "#FF9900", "#000000", "#FFFFFF"};
constexpr std::array<std::string_view, 4> kSounds = {
    "a.mid", "midi/furusato.mid", "../sound/bgm.mid", "TOP.MID"};
constexpr std::array<std::string_view, 20> kAscii = {
    "HTML", "Netscape", "IE4.0", "Windows95", "Mac", "CGI", "Java", "MIDI", "JavaScript",
    "Copyright (C) 1999", "Taro", "e-mail", "&nbsp;", "&amp;", "&lt;BR&gt;", "&quot;OK&quot;",
    "CD-ROM", "URL", "http://www.example.co.jp/", "1024x768"};
constexpr std::array<std::string_view, 6> kWideAscii = {
    "HTML", "Windows98", "CD", "No", "MIDI", "PC"};
// clang-format on

// ---------------------------------------------------------------------------

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  // xorshift64: tiny, and the same sequence on every platform.
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  std::size_t between(std::size_t lo, std::size_t hi) { return lo + below(hi - lo + 1); }
  bool percent(std::size_t p) { return below(100) < p; }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  std::uint64_t state_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

class Writer {
 public:
  explicit Writer(const std::filesystem::path& path)
      : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) throw std::runtime_error(path_.string() + ": cannot create");
  }
  void write(std::string_view s) {
    buffer_.append(s);
    written_ += s.size();
    if (buffer_.size() >= kFlushAt) flush();
  }
  std::uint64_t written() const { return written_; }
  void close() {
    flush();
    if (std::fclose(file_.release()) != 0)
      throw std::runtime_error(path_.string() + ": write failed");
  }

 private:
  static constexpr std::size_t kFlushAt = 1 << 20;
  void flush() {
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size())
      throw std::runtime_error(path_.string() + ": write failed");
    buffer_.clear();
  }
  std::filesystem::path path_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::string buffer_;
  std::uint64_t written_ = 0;
};

bool is_lead_byte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// One output line under construction. With `piece` set, the line is meant to
// be read `piece` bytes at a time: add() never lets a double-byte character
// straddle a piece boundary (its trail byte would start the next piece on its
// own and could swallow a following '<'), and whole() keeps a comment inside
// one piece (a "-->" cut in two would leave a stray '>'). Gaps are padded with
// spaces, which mean nothing wherever they land. ASCII tag text may be cut
// anywhere: a tag is allowed to span pieces.
class Line {
 public:
  Line(Writer& out, std::size_t piece, std::size_t max_length)
      : out_(out), piece_(piece), max_length_(max_length) {}

  void add(std::string_view s) {
    if (piece_ == 0) {
      text_.append(s);
      return;
    }
    for (std::size_t i = 0; i < s.size();) {
      const std::size_t n = is_lead_byte(s[i]) && i + 1 < s.size() ? 2 : 1;
      whole(s.substr(i, n));
      i += n;
    }
  }
  void whole(std::string_view s) {
    if (piece_ != 0) {
      const std::size_t used = text_.size() % piece_;
      if (used + s.size() > piece_) text_.append(piece_ - used, ' ');
    }
    text_.append(s);
  }
  void pad_to(std::size_t length) {
    if (text_.size() < length) text_.append(length - text_.size(), ' ');
  }
  std::size_t size() const { return text_.size(); }
  void end() {
    if (text_.size() > max_length_) throw std::logic_error("generated line too long");
    out_.write(text_);
    out_.write("\r\n");
    text_.clear();
  }

 private:
  Writer& out_;
  std::size_t piece_;
  std::size_t max_length_;
  std::string text_;
};

// ---------------------------------------------------------------------------
// Tag spelling. Templates are written in upper case; a page folds them the
// way its author typed, leaving quoted values and #-tokens alone.

enum class Case { upper, lower, capital };

Case pick_case(Rng& rng) {
  const std::size_t r = rng.below(100);
  return r < 70 ? Case::upper : r < 85 ? Case::lower : Case::capital;
}

std::string styled(std::string_view tag, Case style) {
  std::string out(tag);
  if (style == Case::upper) return out;
  bool quoted = false;
  bool token = false;
  char prev = ' ';
  for (char& c : out) {
    if (c == '"') quoted = !quoted;
    if (c == '#' && !quoted) token = true;
    if (c == ' ' || c == '>') token = false;
    const bool start = prev == '<' || prev == '/' || prev == ' ' || prev == '=';
    prev = c;
    if (quoted || token || c < 'A' || c > 'Z') continue;
    if (style == Case::lower || !start) c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

std::string href(Rng& rng) {
  std::string s(rng.pick(kDirs));
  s += rng.pick(kPages);
  if (rng.percent(10)) s += "#sec2";
  return s;
}

// Several draws in one expression would come out in an unspecified order, so
// every generator draws in separate statements: the corpora must not depend on
// the compiler.
std::string image(Rng& rng) {
  std::string s(rng.pick(kImageDirs));
  s += rng.pick(kImages);
  return s;
}

std::string anchor(Rng& rng) {
  switch (rng.below(8)) {
    case 0: return "<A HREF=" + std::string(rng.pick(kPages)) + ">";
    case 1: return "<A HREF=\"" + href(rng) + "\" TARGET=\"_blank\">";
    case 2: return "<A HREF=\"mailto:taro@example.ne.jp\">";
    case 3: return "<A HREF=\"#top\">";
    default: return "<A HREF=\"" + href(rng) + "\">";
  }
}

std::string img(Rng& rng) {
  std::string s = "<IMG SRC=\"" + image(rng) + "\"";
  if (rng.percent(70)) s += " WIDTH=" + std::to_string(rng.between(8, 640));
  if (rng.percent(60)) s += " HEIGHT=" + std::to_string(rng.between(8, 480));
  if (rng.percent(40)) s += " BORDER=0";
  if (rng.percent(30)) s += " ALT=\"NEW\"";
  return s + ">";
}

std::string font(Rng& rng) {
  switch (rng.below(4)) {
    case 0: return "<FONT SIZE=" + std::to_string(rng.between(1, 7)) + ">";
    case 1: return "<FONT COLOR=" + std::string(rng.pick(kColors)) + ">";
    case 2: return "<FONT COLOR=\"" + std::string(rng.pick(kColors)) + "\" SIZE=+1>";
    default: {
      std::string s = "<FONT SIZE=" + std::to_string(rng.between(1, 5));
      s += " COLOR=";
      s += rng.pick(kColors);
      return s + ">";
    }
  }
}

// ---------------------------------------------------------------------------
// Running text.

std::string wide_digits(std::uint64_t value, bool grouped) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (grouped && i != 0 && (digits.size() - i) % 3 == 0) out += "\x81\x43";  // ，
    out += '\x82';
    out += static_cast<char>(0x4F + (digits[i] - '0'));
  }
  return out;
}

std::string wide_ascii(std::string_view s) {
  std::string out;
  for (char c : s) {
    out += '\x82';
    if (c >= '0' && c <= '9')
      out += static_cast<char>(0x4F + (c - '0'));
    else if (c >= 'A' && c <= 'Z')
      out += static_cast<char>(0x60 + (c - 'A'));
    else
      out += static_cast<char>(0x81 + (c - 'a'));
  }
  return out;
}

// Three random numbers in full-width digits, each followed by its separator;
// a separator "" ends the number early.
std::string wide_parts(Rng& rng, const std::array<std::array<std::uint64_t, 2>, 3>& ranges,
                       const std::array<std::string_view, 3>& separators) {
  std::string out;
  for (std::size_t i = 0; i < 3; ++i) {
    out += wide_digits(rng.between(ranges[i][0], ranges[i][1]), false);
    out += separators[i];
    if (separators[i].empty()) break;
  }
  return out;
}

// Prices, dates, phone numbers and decimals in full-width digits: "１，０００円",
// "１９９９年１２月３１日", "０３－１２３４－５６７８", "３．５".
std::string wide_number(Rng& rng) {
  switch (rng.below(4)) {
    case 0: return wide_digits(rng.between(100, 99999) * 10, true) + "\x89\x7E";  // 円
    case 1:
      return wide_parts(rng, {{{1996, 2000}, {1, 12}, {1, 31}}},
                        {"\x94\x4E", "\x8C\x8E", "\x93\xFA"});  // 年月日
    case 2:
      return wide_parts(rng, {{{3, 99}, {1000, 9999}, {1000, 9999}}},
                        {"\x81\x7C", "\x81\x7C", ""});                                  // －
    default: return wide_parts(rng, {{{1, 9}, {0, 9}, {0, 0}}}, {"\x81\x44", "", ""});  // ．
  }
}

std::string random_kana(Rng& rng, char lead, unsigned first, unsigned last, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned trail = first + static_cast<unsigned>(rng.below(last - first + 1));
    if (lead == '\x83' && trail == 0x7F) trail = 0x5C;  // 0x837F is unassigned; ソ instead
    out += lead;
    out += static_cast<char>(trail);
  }
  return out;
}

// A kanji of JIS level 1 (rows 16 to 47, codes 0x889F to 0x9872), where every
// code is assigned.
std::string random_kanji(Rng& rng) {
  const std::size_t index = rng.below(2965);
  const std::size_t row = 16 + index / 94;
  const std::size_t cell = 1 + index % 94;
  std::size_t trail = row % 2 == 0 ? cell + 0x9E : cell + 0x3F;
  if (row % 2 == 1 && trail >= 0x7F) ++trail;  // 0x7F is never a trail byte
  std::string out;
  out += static_cast<char>(0x81 + (row - 1) / 2);
  out += static_cast<char>(trail);
  return out;
}

std::string phrase(Rng& rng) {
  const std::size_t r = rng.below(100);
  if (r < 55) return std::string(rng.pick(kWords));
  if (r < 70) {
    std::string s = random_kanji(rng);
    s += random_kanji(rng);
    return s + random_kana(rng, '\x82', 0x9F, 0xF1, rng.between(1, 3));
  }
  if (r < 78) return random_kana(rng, '\x83', 0x40, 0x96, rng.between(2, 6));
  if (r < 86) return std::string(rng.pick(kHalfWidth));
  if (r < 92) return wide_number(rng);
  if (r < 95) return wide_ascii(rng.pick(kWideAscii));
  return std::string(rng.pick(kAscii));
}

std::string sentence(Rng& rng) {
  std::string out;
  const std::size_t clauses = rng.between(2, 7);
  for (std::size_t i = 0; i < clauses; ++i) {
    out += phrase(rng);
    out += rng.pick(kParticles);
    if (rng.percent(15)) out += "\x81\x41";  // 、
  }
  return out + std::string(rng.pick(kEndings));
}

// A sentence with some inline markup, all of it closed within the text.
void marked_sentence(Rng& rng, Line& line, Case style) {
  const std::size_t r = rng.below(100);
  if (r < 10) {
    line.add(styled(anchor(rng), style));
    line.add(phrase(rng));
    line.add(styled("</A>", style));
  } else if (r < 18) {
    line.add(styled(font(rng), style));
    line.add(phrase(rng));
    line.add(styled("</FONT>", style));
  } else if (r < 24) {
    line.add(styled("<B>", style));
    line.add(phrase(rng));
    line.add(styled("</B>", style));
  } else if (r < 27) {
    line.add(styled(img(rng), style));
  }
  line.add(sentence(rng));
}

// ---------------------------------------------------------------------------
// The page mix.

void tag_line(Line& line, Case style, std::string_view tag) {
  line.add(styled(tag, style));
  line.end();
}

void page_head(Rng& rng, Line& line, Case style) {
  tag_line(line, style, "<HTML>");
  tag_line(line, style, "<HEAD>");
  tag_line(line, style,
           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">");
  line.add(styled("<TITLE>", style));
  line.add(phrase(rng));
  line.add(std::string(rng.pick(kWords)));
  line.add(styled("</TITLE>", style));
  line.end();
  tag_line(line, style, "</HEAD>");
  std::string body = rng.percent(60) ? "<BODY BGCOLOR=\"" + std::string(rng.pick(kColors)) + "\""
                                     : "<BODY BGCOLOR=" + std::string(rng.pick(kColors));
  body += " TEXT=\"#000000\" LINK=\"#0000FF\" VLINK=\"#800080\"";
  if (rng.percent(30)) body += " BACKGROUND=\"" + image(rng) + "\"";
  tag_line(line, style, body + ">");
  if (rng.percent(40))
    tag_line(line, style, "<BGSOUND SRC=\"" + std::string(rng.pick(kSounds)) + "\" LOOP=INFINITE>");
}

void paragraph(Rng& rng, Line& line, Case style) {
  if (rng.percent(60)) line.add(styled("<P>", style));
  // Some authors wrapped by hand, others wrote a whole paragraph on one line.
  const bool one_line = rng.percent(15);
  const std::size_t lines = one_line ? 1 : rng.between(1, 6);
  for (std::size_t i = 0; i < lines; ++i) {
    const std::size_t sentences = one_line ? rng.between(5, 12) : rng.between(1, 4);
    for (std::size_t j = 0; j < sentences; ++j) marked_sentence(rng, line, style);
    if (rng.percent(60)) line.add(styled("<BR>", style));  // else a hard-wrapped line
    line.end();
  }
}

void heading(Rng& rng, Line& line, Case style) {
  line.add(styled("<CENTER>", style));
  line.add(styled(font(rng), style));
  line.add(styled("<B>", style));
  line.add(phrase(rng));
  line.add(phrase(rng));
  line.add(styled("</B></FONT></CENTER>", style));
  line.end();
}

void table(Rng& rng, Line& line, Case style) {
  std::string open = "<TABLE BORDER=" + std::to_string(rng.below(3));
  open += " CELLSPACING=0 CELLPADDING=4 WIDTH=\"90%\" BGCOLOR=\"";
  open += rng.pick(kColors);
  tag_line(line, style, open + "\">");
  const std::size_t rows = rng.between(2, 8);
  for (std::size_t r = 0; r < rows; ++r) {
    tag_line(line, style, "<TR>");
    const std::size_t cells = rng.between(2, 4);
    for (std::size_t c = 0; c < cells; ++c) {
      line.add(styled(c == 0 ? "<TD BGCOLOR=\"#CCCCFF\" ALIGN=CENTER>" : "<TD>", style));
      line.add(styled("<FONT SIZE=2>", style));
      if (rng.percent(30))
        line.add(wide_number(rng));
      else if (rng.percent(40))
        line.add(phrase(rng));
      else
        marked_sentence(rng, line, style);
      line.add(styled("</FONT></TD>", style));
      line.end();
    }
    tag_line(line, style, "</TR>");
  }
  tag_line(line, style, "</TABLE>");
}

void link_list(Rng& rng, Line& line, Case style) {
  tag_line(line, style, "<UL>");
  const std::size_t items = rng.between(3, 10);
  for (std::size_t i = 0; i < items; ++i) {
    line.add(styled("<LI>", style));
    line.add(styled(anchor(rng), style));
    line.add(phrase(rng));
    line.add(styled("</A>", style));
    if (rng.percent(50)) line.add(sentence(rng));
    if (rng.percent(20)) line.add(styled(img(rng), style));
    line.end();
  }
  tag_line(line, style, "</UL>");
}

void pre_block(Rng& rng, Line& line, Case style) {
  tag_line(line, style, "<PRE>");
  const std::size_t lines = rng.between(3, 8);
  for (std::size_t i = 0; i < lines; ++i) {
    line.add(std::string(rng.between(0, 8), ' '));
    line.add(rng.percent(30) ? std::string(rng.pick(kHalfWidth)) : phrase(rng));
    line.add("    ");
    if (rng.percent(30)) line.add("&lt;BR&gt;  ");
    line.add(rng.percent(50) ? wide_number(rng) : sentence(rng));
    line.end();
  }
  tag_line(line, style, "</PRE>");
}

void comment(Rng& rng, Line& line, Case style) {
  if (rng.percent(60)) {
    line.add("<!-- ");
    line.add(rng.percent(50) ? sentence(rng) : std::string(rng.pick(kAscii)));
    line.add(" -->");
    line.end();
    return;
  }
  line.add("<!--");
  line.end();
  const std::size_t lines = rng.between(1, 4);
  for (std::size_t i = 0; i < lines; ++i) {  // commented-out markup of an old version
    line.add("  ");
    line.add(styled(anchor(rng), style));
    line.add(phrase(rng));
    line.add(styled("</A>", style));
    line.add(sentence(rng));
    line.end();
  }
  line.add("-->");
  line.end();
}

// Tags that an editor wrapped: each closes on the next line.
void split_tag(Rng& rng, Line& line, Case style) {
  switch (rng.below(3)) {
    case 0:
      line.add(styled("<A", style));
      line.end();
      line.add(styled(" HREF=\"" + href(rng) + "\">", style));
      line.add(phrase(rng));
      line.add(styled("</A>", style));
      break;
    case 1:
      line.add(phrase(rng));
      line.add(styled("<IMG SRC=\"" + image(rng) + "\"", style));
      line.end();
      line.add(styled(" WIDTH=100 HEIGHT=80>", style));
      break;
    default:
      line.add(styled("<FONT SIZE=2", style));
      line.end();
      line.add(styled("COLOR=\"" + std::string(rng.pick(kColors)) + "\">", style));
      line.add(sentence(rng));
      line.add(styled("</FONT>", style));
      break;
  }
  line.end();
}

void odds_and_ends(Rng& rng, Line& line, Case style) {
  switch (rng.below(5)) {
    case 0: tag_line(line, style, "<HR>"); break;
    case 1: tag_line(line, style, "<HR SIZE=1 WIDTH=\"80%\" NOSHADE>"); break;
    case 2:
      line.add(styled("<MARQUEE BGCOLOR=\"#FFFF00\">", style));
      line.add(sentence(rng));
      line.add(styled("</MARQUEE>", style));
      line.end();
      break;
    case 3:
      line.add(phrase(rng));
      line.add(styled("<IMG SRC=\"/cgi-bin/counter.cgi?id=taro\" WIDTH=80 HEIGHT=16>", style));
      line.add(styled("<BR>", style));
      line.end();
      break;
    default:
      line.add(
          styled("<FORM METHOD=POST ACTION=\"bbs.cgi\"><INPUT TYPE=\"text\" NAME=\"name\" SIZE=20>",
                 style));
      line.add(styled("<INPUT TYPE=\"submit\" VALUE=\"", style));
      line.add(phrase(rng));
      line.add(styled("\"></FORM>", style));
      line.end();
      break;
  }
}

void page_body(Rng& rng, Line& line, Case style) {
  const std::size_t blocks = rng.between(8, 30);
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::size_t r = rng.below(100);
    if (r < 35)
      paragraph(rng, line, style);
    else if (r < 45)
      heading(rng, line, style);
    else if (r < 55)
      table(rng, line, style);
    else if (r < 65)
      link_list(rng, line, style);
    else if (r < 71)
      pre_block(rng, line, style);
    else if (r < 81)
      comment(rng, line, style);
    else if (r < 89)
      split_tag(rng, line, style);
    else
      odds_and_ends(rng, line, style);
  }
}

void page(Rng& rng, Line& line) {
  const Case style = pick_case(rng);
  page_head(rng, line, style);
  page_body(rng, line, style);
  tag_line(line, style, "<HR>");
  line.add(styled("<ADDRESS>", style));
  line.add(styled("<A HREF=\"mailto:taro@example.ne.jp\">", style));
  line.add("taro@example.ne.jp");
  line.add(styled("</A></ADDRESS>", style));
  line.end();
  tag_line(line, style, "</BODY>");
  tag_line(line, style, "</HTML>");
}

void write_mix(Writer& out, std::uint64_t target) {
  Rng rng(0x6C6F77746167734DULL);
  Line line(out, 0, kPiece - 1);
  while (out.written() < target) page(rng, line);
}

// ---------------------------------------------------------------------------
// Tag-dense lines: anchors, comments, images and table cells back to back.

void dense_item(Rng& rng, Line& line, Case style) {
  switch (rng.below(10)) {
    case 0:
    case 1:
      line.add(styled(anchor(rng), style));
      line.add(phrase(rng));
      line.add(styled("</A>", style));
      break;
    case 2: line.whole("<!-- " + std::string(rng.pick(kAscii)) + " -->"); break;
    case 3: line.add(styled(img(rng), style)); break;
    case 4:
      line.add(styled(font(rng), style));
      line.add(phrase(rng));
      line.add(styled("</FONT>", style));
      break;
    case 5: line.add(styled(rng.percent(50) ? "<TR><TD>" : "</TD><TD NOWRAP>", style)); break;
    case 6: line.add(styled(rng.percent(50) ? "<BR>" : "<B>", style)); break;
    case 7:
      line.add(styled("<TD BGCOLOR=\"" + std::string(rng.pick(kColors)) + "\">", style));
      break;
    case 8:
      line.add(styled("</B><BGSOUND SRC=\"" + std::string(rng.pick(kSounds)) + "\">", style));
      break;
    default: line.add(phrase(rng)); break;
  }
}

void write_dense(Writer& out, std::uint64_t target) {
  Rng rng(0x6C6F777461677344ULL);
  Line line(out, 0, kPiece - 1);
  while (out.written() < target) {
    const Case style = pick_case(rng);
    const std::size_t items = rng.between(10, 60);
    for (std::size_t i = 0; i < items; ++i) dense_item(rng, line, style);
    line.end();
  }
}

// ---------------------------------------------------------------------------
// 100 KB lines of text and short complete tags, read by the converter in
// pieces; see Line for what keeps a piece boundary harmless.

void write_long(Writer& out, std::uint64_t target) {
  Rng rng(0x6C6F77746167734CULL);
  Line line(out, kPiece, kLongLine);
  do {
    const Case style = pick_case(rng);
    while (line.size() + 600 < kLongLine) {
      if (rng.percent(5)) line.whole("<!-- " + std::string(rng.pick(kAscii)) + " -->");
      if (rng.percent(5)) line.add(styled("<BR>", style));
      marked_sentence(rng, line, style);
    }
    line.pad_to(kLongLine);
    line.end();
  } while (out.written() < target);
}

// ---------------------------------------------------------------------------
// Worst cases: every line exactly one read piece long.

void write_repeated(Writer& out, std::uint64_t target, std::string_view unit) {
  std::string text;
  while (text.size() + unit.size() <= kPiece) text += unit;
  text.append(kPiece - text.size(), ' ');
  text += "\r\n";
  do out.write(text);
  while (out.written() < target);
}

// ---------------------------------------------------------------------------

struct Sizes {
  double mix_mb = 100;
  double long_mb = 20;
  double dense_mb = 20;
  double path_mb = 10;
};

std::uint64_t bytes_of(double mb) { return static_cast<std::uint64_t>(mb * kMegabyte); }

void generate(const std::filesystem::path& dir, std::string_view name, std::uint64_t target,
              void (*fill)(Writer&, std::uint64_t)) {
  const std::filesystem::path final_path = dir / name;
  std::filesystem::path temp_path = final_path;
  temp_path += ".part";
  Writer out(temp_path);
  fill(out, target);
  out.close();
  std::filesystem::rename(temp_path, final_path);
  std::cout << name << ' ' << out.written() << '\n';
}

void generate_all(const std::filesystem::path& dir, const Sizes& sizes) {
  std::filesystem::create_directories(dir);
  generate(dir, "mix.htm", bytes_of(sizes.mix_mb), write_mix);
  generate(dir, "long.htm", bytes_of(sizes.long_mb), write_long);
  generate(dir, "dense.htm", bytes_of(sizes.dense_mb), write_dense);
  const std::uint64_t path = bytes_of(sizes.path_mb);
  generate(dir, "path-a.htm", path,
           [](Writer& o, std::uint64_t t) { write_repeated(o, t, "<A>"); });
  generate(dir, "path-enda.htm", path,
           [](Writer& o, std::uint64_t t) { write_repeated(o, t, "</A>"); });
  generate(dir, "path-font.htm", path,
           [](Writer& o, std::uint64_t t) { write_repeated(o, t, "<FONT>"); });
  generate(dir, "path-comment.htm", path,
           [](Writer& o, std::uint64_t t) { write_repeated(o, t, "<!---->"); });
  generate(dir, "path-kana.htm", path,  // ｱｲｳｴｵ
           [](Writer& o, std::uint64_t t) { write_repeated(o, t, "\xB1\xB2\xB3\xB4\xB5"); });
}

constexpr std::string_view kUsage =
    "usage: gen_corpus [--mix-mb N] [--long-mb N] [--dense-mb N] [--path-mb N] DIR\n"
    "       gen_corpus --version\n"
    "Writes mix.htm, long.htm, dense.htm, path-a.htm, path-enda.htm, path-font.htm,\n"
    "path-comment.htm and path-kana.htm into DIR. Sizes are in MB of 1,000,000 bytes (fractions "
    "allowed;\n"
    "defaults 100, 20, 20 and 10 per pathological file).\n";

double parse_mb(std::string_view flag, const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value > 0) || value > 1e5)
    throw std::invalid_argument(std::string(flag) + ": not a size in MB: " + text);
  return value;
}

int run(const std::vector<std::string_view>& args) {
  Sizes sizes;
  std::string_view dir;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--version") {
      std::cout << kVersion << '\n';
      return 0;
    }
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    double* target = a == "--mix-mb"     ? &sizes.mix_mb
                     : a == "--long-mb"  ? &sizes.long_mb
                     : a == "--dense-mb" ? &sizes.dense_mb
                     : a == "--path-mb"  ? &sizes.path_mb
                                         : nullptr;
    if (target != nullptr && i + 1 < args.size()) {
      *target = parse_mb(a, args[++i].data());
    } else if (target == nullptr && !a.starts_with("-") && dir.empty()) {
      dir = a;
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (dir.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  generate_all(std::filesystem::path(dir), sizes);
  return 0;
}

}  // namespace
}  // namespace lowtags::bench

int main(int argc, char** argv) {
  try {
    return lowtags::bench::run(std::vector<std::string_view>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "gen_corpus: " << e.what() << '\n';
    return 1;
  }
}
