// Windows: the name under which the script names a directory entry.
#ifndef MKANI_SEARCH_ANSI_NAME_WIN32_H_
#define MKANI_SEARCH_ANSI_NAME_WIN32_H_

#include <string>

#include "search/directory_source.h"

namespace mkani {

// Returns kName with *name set to what opens the entry whose long name is `longName` through
// the ANSI calls: that name in the ANSI code page when it converts without loss, else its short
// 8.3 name `shortName`. Returns kUnwritable with *name set to the long name in UTF-8 when the
// entry has no short name ("") either.
DirectorySource::Status ansiName(const wchar_t* longName, const wchar_t* shortName,
                                 std::string* name);

}  // namespace mkani

#endif  // MKANI_SEARCH_ANSI_NAME_WIN32_H_
