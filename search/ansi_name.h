// Windows: the name through which the ANSI calls, which the player makes, open an entry.
#ifndef MKANI_SEARCH_ANSI_NAME_H_
#define MKANI_SEARCH_ANSI_NAME_H_

#include <string>

#include "search/directory_source.h"

namespace mkani {

// Converts the NUL-terminated UTF-16 `wide` to the code page `codePage` with the flags `flags`,
// as WideCharToMultiByte does: writes at most `room` bytes to `out`, its NUL included, and
// sets *usedDefault, when given, when some character had no equivalent. Returns the bytes it
// wrote (with `room` 0, the bytes it needs), or 0 on failure.
using WideToBytes = int (*)(unsigned codePage, unsigned long flags, const wchar_t* wide, char* out,
                            int room, int* usedDefault);

// The platform's conversion, WideCharToMultiByte.
int platformWideToBytes(unsigned codePage, unsigned long flags, const wchar_t* wide, char* out,
                        int room, int* usedDefault);

// Returns kName with *name set to what opens the entry whose long name is `longName` through the
// ANSI calls, in the code page `codePage`: the long name when it converts without loss, else the
// short 8.3 name `shortName`. Returns kUnwritable with *name set to the long name in UTF-8 when
// neither converts (a short name "" is none).
DirectorySource::Status ansiName(unsigned codePage, const wchar_t* longName,
                                 const wchar_t* shortName, std::string* name,
                                 WideToBytes convert = platformWideToBytes);

}  // namespace mkani

#endif  // MKANI_SEARCH_ANSI_NAME_H_
