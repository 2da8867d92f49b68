// SPDX-License-Identifier: MIT
// Reading one section of a profile file whole, for Platform::ReadProfileSection.
#ifndef TARVELIN_PLATFORM_WIN32_PROFILE_SECTION_H_
#define TARVELIN_PLATFORM_WIN32_PROFILE_SECTION_H_

#include "platform/platform.h"

namespace tarvelin {

// Fetches the section with GetPrivateProfileSectionW, which returns it as
// "name=value" strings, and hands each entry to `visit` as a keyed read would
// see it: blanks trimmed, a value without one pair of matching quotes.
bool ReadProfileSectionEntries(const wchar_t* section, const wchar_t* path,
                               const ProfileEntryVisitor& visit);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_WIN32_PROFILE_SECTION_H_
