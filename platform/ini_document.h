// An INI document in memory, as the Windows profile functions see one: named
// sections holding key=value lines. Parsing survives any bytes at all; the
// text it writes is the layout that WritePrivateProfileStringW writes
// ("[Section]\r\nKEY=value\r\n"), so a manifest moves between systems
// unchanged. Names and values are UTF-8 here; the backend converts.
#ifndef TARVELIN_PLATFORM_INI_DOCUMENT_H_
#define TARVELIN_PLATFORM_INI_DOCUMENT_H_

// (declared by the profile work; see posix_profile.h)

#endif  // TARVELIN_PLATFORM_INI_DOCUMENT_H_
