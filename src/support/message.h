// The program's messages, one function each. A message goes out with a single Write. Its bytes
// stop at kMsgLimit, tested before each piece: a piece begun below the limit ends whole. A name
// or line that cannot fit whole is cut so that the message stands at kMsgCutTo bytes, leaving
// room for the rest; past kMsgCutTo there is nothing left to give it. Names and lines end at
// their first NUL byte.
#pragma once

#include <cstddef>
#include <string_view>

#include "support/byte_sink.h"

namespace lowtags {

inline constexpr std::size_t kMsgLimit = 1024;
inline constexpr std::size_t kMsgCutTo = kMsgLimit - 256;

void NotFound(ByteSink& out, std::string_view name);
void NotRegularFile(ByteSink& out, std::string_view name);
void FailedToConvert(ByteSink& out, std::string_view name);
void NotShiftJis(ByteSink& out, std::string_view name, std::string_view rule);
void CannotOpenToWrite(ByteSink& out, std::string_view name);
void FailedToRewrite(ByteSink& out, std::string_view name);
void ChangedWhileConverting(ByteSink& out, std::string_view name);
void UnknownOption(ByteSink& out, char letter);
void UnknownLongOption(ByteSink& out, std::string_view word);
void CannotConvertHelp(ByteSink& out, std::string_view reason);
// A reason given by the C library, on a line of its own.
void LibraryFault(ByteSink& out, std::string_view reason);
void NoFreeSpace(ByteSink& out);
void NoFreeSpaceOnDrive(ByteSink& out, char drive);
// A bracket error: the line it is on, then what is wrong.
void TagNotClosed(ByteSink& out, std::string_view path, int line_no, std::string_view line);
void NoOpeningBracket(ByteSink& out, std::string_view path, int line_no, std::string_view line);
void TagOpenAtEnd(ByteSink& out, std::string_view path);
void NotConvertibleToUtf8(ByteSink& out, std::string_view path, long long line_no);
// The bytes of "path:line_no: " before a bracket error's line, the path taken whole.
std::size_t LinePrefixSize(std::string_view path, int line_no);

}  // namespace lowtags
