// SPDX-License-Identifier: MIT
// A host built as MSVC builds one: clang for the MSVC targets
// (i686-pc-windows-msvc, x86_64-pc-windows-msvc), linked by lld-link against
// tarvelin.lib and nothing of MinGW. It sees the library only through the
// shipped header. With no C runtime at hand it declares the little Win32 it
// needs itself and starts at HostMain.
//
// usage: msvc_host VERSION
// Checks that the loaded tarvelin.dll carries VERSION in its version resource,
// uses the class's constructor and assignment, round-trips a file in the
// current folder through the exports, and again through the library's own
// functions with their options, callbacks and outcome. Prints one line per
// check; exits 0 when all passed.
#include "tarvelin/tarvelin.h"

typedef unsigned long DWORD;
typedef int BOOL;
typedef void* HANDLE;

extern "C" {
__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) BOOL __stdcall WriteFile(HANDLE file, const void* bytes, DWORD count,
                                               DWORD* written, void* overlapped);
__declspec(dllimport) BOOL __stdcall ReadFile(HANDLE file, void* bytes, DWORD count,
                                              DWORD* read, void* overlapped);
__declspec(dllimport) HANDLE __stdcall CreateFileW(const wchar_t* name, DWORD access,
                                                   DWORD share, void* security, DWORD disposition,
                                                   DWORD flags, HANDLE model);
__declspec(dllimport) BOOL __stdcall CloseHandle(HANDLE handle);
__declspec(dllimport) BOOL __stdcall DeleteFileW(const wchar_t* name);
__declspec(dllimport) DWORD __stdcall GetFileAttributesW(const wchar_t* name);
__declspec(dllimport) const wchar_t* __stdcall GetCommandLineW(void);
__declspec(dllimport) HANDLE __stdcall GetModuleHandleW(const wchar_t* name);
__declspec(dllimport) DWORD __stdcall GetModuleFileNameW(HANDLE module, wchar_t* name,
                                                         DWORD capacity);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned code);
__declspec(dllimport) DWORD __stdcall GetFileVersionInfoSizeW(const wchar_t* name, DWORD* zero);
__declspec(dllimport) BOOL __stdcall GetFileVersionInfoW(const wchar_t* name, DWORD zero,
                                                         DWORD capacity, void* info);
__declspec(dllimport) BOOL __stdcall VerQueryValueW(const void* info, const wchar_t* key,
                                                    void** value, unsigned* length);
}

// Placement new, which <new> would otherwise declare.
inline void* operator new(decltype(sizeof(0)), void* place) noexcept { return place; }

namespace {

const DWORD kStdOutput = static_cast<DWORD>(-11);
const DWORD kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u;
const DWORD kCreateAlways = 2, kOpenExisting = 3, kNoAttributes = 0xFFFFFFFFu;
HANDLE const kInvalidHandle = reinterpret_cast<HANDLE>(-1);

struct FixedFileInfo {  // VS_FIXEDFILEINFO
  DWORD signature, struct_version, file_version_ms, file_version_ls, product_version_ms,
      product_version_ls, flags_mask, flags, os, type, subtype, date_ms, date_ls;
};

// Static, so that no function needs a stack probe or a zeroing call.
unsigned char g_chunk[65536];
unsigned char g_version_info[16384];
wchar_t g_module_path[520];
int g_failures = 0;

void Print(const char* text) {
  DWORD length = 0, written = 0;
  while (text[length] != '\0') ++length;
  WriteFile(GetStdHandle(kStdOutput), text, length, &written, nullptr);
}

void Check(bool passed, const char* what) {
  Print(passed ? "ok: " : "FAILED: ");
  Print(what);
  Print("\n");
  if (!passed) ++g_failures;
}

bool SameText(const wchar_t* a, const wchar_t* b) {
  while (*a != L'\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// The first argument after the program's name: "VERSION".
const wchar_t* FirstArgument(const wchar_t* line) {
  if (*line == L'"') {
    for (++line; *line != L'\0' && *line != L'"'; ++line) {}
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

// "MAJOR.MINOR.PATCH" as the resource's two 32-bit halves.
bool ParseVersion(const wchar_t* text, DWORD* most, DWORD* least) {
  DWORD parts[3] = {0, 0, 0};
  for (int part = 0; part < 3; ++part) {
    if (*text < L'0' || *text > L'9') return false;
    while (*text >= L'0' && *text <= L'9') parts[part] = parts[part] * 10 + (*text++ - L'0');
    if (part < 2 && *text++ != L'.') return false;
  }
  *most = (parts[0] << 16) | parts[1];
  *least = parts[2] << 16;
  return *text == L'\0' || *text == L' ';
}

const wchar_t* VersionString(const wchar_t* key) {
  void* value = nullptr;
  unsigned length = 0;
  if (!VerQueryValueW(g_version_info, key, &value, &length) || length == 0) return L"";
  return static_cast<const wchar_t*>(value);
}

void CheckVersionResource(const wchar_t* expected) {
  DWORD most = 0, least = 0;
  Check(ParseVersion(expected, &most, &least), "the expected version reads MAJOR.MINOR.PATCH");
  HANDLE module = GetModuleHandleW(L"tarvelin.dll");
  const DWORD length = GetModuleFileNameW(module, g_module_path, 520);
  Check(module != nullptr && length > 0 && length < 520, "tarvelin.dll is loaded");
  const DWORD size = GetFileVersionInfoSizeW(g_module_path, nullptr);
  Check(size > 0 && size <= sizeof g_version_info &&
            GetFileVersionInfoW(g_module_path, 0, sizeof g_version_info, g_version_info),
        "tarvelin.dll has a version resource");
  if (g_failures > 0) return;

  void* value = nullptr;
  unsigned value_length = 0;
  const FixedFileInfo* fixed = nullptr;
  if (VerQueryValueW(g_version_info, L"\\", &value, &value_length) &&
      value_length >= sizeof(FixedFileInfo)) {
    fixed = static_cast<const FixedFileInfo*>(value);
  }
  Check(fixed != nullptr && fixed->signature == 0xFEEF04BDu, "its fixed part is readable");
  if (fixed == nullptr) return;
  Check(fixed->file_version_ms == most && fixed->file_version_ls == least,
        "its FILEVERSION is the project version");
  Check(fixed->product_version_ms == most && fixed->product_version_ls == least,
        "its PRODUCTVERSION is the project version");
  Check(fixed->type == 2, "it describes a DLL");  // VFT_DLL

  wchar_t version[32];
  int n = 0;
  for (; n < 31 && expected[n] != L'\0' && expected[n] != L' '; ++n) version[n] = expected[n];
  version[n] = L'\0';
  Check(SameText(VersionString(L"\\StringFileInfo\\040904B0\\FileVersion"), version),
        "its FileVersion text is the project version");
  Check(SameText(VersionString(L"\\StringFileInfo\\040904B0\\ProductVersion"), version),
        "its ProductVersion text is the project version");
  Check(SameText(VersionString(L"\\StringFileInfo\\040904B0\\ProductName"), L"Tarvelin"),
        "its ProductName is Tarvelin");
  Check(SameText(VersionString(L"\\StringFileInfo\\040904B0\\OriginalFilename"),
                 L"tarvelin.dll"),
        "its OriginalFilename is tarvelin.dll");
  Check(*VersionString(L"\\StringFileInfo\\040904B0\\FileDescription") != L'\0',
        "it has a FileDescription");
  Check(*VersionString(L"\\StringFileInfo\\040904B0\\LegalCopyright") != L'\0',
        "it has a LegalCopyright");
}

// The class through its imported members: two objects, an assignment, and a
// construction in place, whose address the caller takes back from the
// constructor as MSVC's code may.
void CheckClass() {
  CTarvelin first;
  CTarvelin second;
  CTarvelin& assigned = (second = first);
  Check(&assigned == &second, "the assignment returns its left side");
  alignas(8) static unsigned char storage[16];
  CTarvelin* placed = new (storage) CTarvelin;
  Check(static_cast<void*>(placed) == static_cast<void*>(storage),
        "a construction in place gives back the object's address");
}

unsigned char PatternByte(DWORD offset) {
  return static_cast<unsigned char>((offset * 131u) ^ (offset >> 13));
}

// Sample file: 2 MiB + 12345 bytes, so that 1 MiB pieces make three.
const DWORD kSampleBytes = (2u << 20) + 12345;

bool WriteSample(const wchar_t* path) {
  HANDLE file = CreateFileW(path, kGenericWrite, 0, nullptr, kCreateAlways, 0, nullptr);
  if (file == kInvalidHandle) return false;
  bool ok = true;
  for (DWORD done = 0; ok && done < kSampleBytes;) {
    DWORD count = kSampleBytes - done < sizeof g_chunk ? kSampleBytes - done : sizeof g_chunk;
    for (DWORD i = 0; i < count; ++i) g_chunk[i] = PatternByte(done + i);
    DWORD written = 0;
    ok = WriteFile(file, g_chunk, count, &written, nullptr) && written == count;
    done += count;
  }
  return CloseHandle(file) && ok;
}

bool SampleIsIntact(const wchar_t* path) {
  HANDLE file = CreateFileW(path, kGenericRead, 1, nullptr, kOpenExisting, 0, nullptr);
  if (file == kInvalidHandle) return false;
  DWORD done = 0;
  bool ok = true;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, g_chunk, sizeof g_chunk, &read, nullptr)) ok = false;
    if (!ok || read == 0) break;
    for (DWORD i = 0; i < read; ++i) ok = ok && g_chunk[i] == PatternByte(done + i);
    done += read;
  }
  CloseHandle(file);
  return ok && done == kSampleBytes;
}

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != kNoAttributes; }

// The names carry their folder: Windows' profile functions would look for a
// manifest named without one in the Windows folder.
void CheckRoundTrip() {
  const wchar_t* const names[] = {L".\\msvc_host.img", L".\\msvc_host.0", L".\\msvc_host.1",
                                  L".\\msvc_host.2", L".\\msvc_host.DAT"};
  for (const wchar_t* name : names) DeleteFileW(name);  // an earlier run's

  Check(WriteSample(L".\\msvc_host.img"), "wrote the sample file");
  Check(SplitBigWIM(L".\\msvc_host.img", 1) == RC_OK, "SplitBigWIM gives RC_OK");
  Check(!Exists(L".\\msvc_host.img") && Exists(L".\\msvc_host.0") && Exists(L".\\msvc_host.2") &&
            !Exists(L".\\msvc_host.3") && Exists(L".\\msvc_host.DAT"),
        "the split left three pieces and the manifest, and no source");
  Check(MergeIntoWIM(L".\\msvc_host.img") == RC_OK, "MergeIntoWIM gives RC_OK");
  Check(SampleIsIntact(L".\\msvc_host.img"), "the merge rebuilt the sample byte for byte");
  Check(!Exists(L".\\msvc_host.0") && !Exists(L".\\msvc_host.DAT"),
        "the merge left no piece and no manifest");
  DeleteFileW(L".\\msvc_host.img");
  Check(SplitBigWIM(L".\\msvc_host_missing.img", 1) == RC_SOURCE_NOT_FOUND,
        "a missing source gives RC_SOURCE_NOT_FOUND");
  Check(MergeIntoWIM(nullptr) == RC_INVALID_PATH, "no path gives RC_INVALID_PATH");
}

bool SameText(const char* a, const wchar_t* b) {  // ASCII `a`
  while (*a != '\0' && static_cast<wchar_t>(*a) == *b) ++a, ++b;
  return *a == '\0' && (*b == L'\0' || *b == L' ');
}

bool SameBytes(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// What the progress callback saw; it cancels at its first call when asked.
struct Watch {
  int calls, cancel;
  bool sane;
  uint64_t done, total;  // the last report's
};

int TARVELIN_CALLBACK OnProgress(const tarvelin_progress* progress, void* user_data) {
  Watch& watch = *static_cast<Watch*>(user_data);
  ++watch.calls;
  watch.sane = watch.sane && progress->phase >= TARVELIN_PHASE_FINGERPRINT_SOURCE &&
               progress->phase <= TARVELIN_PHASE_FINGERPRINT && progress->done >= watch.done &&
               progress->done <= progress->total;
  watch.done = progress->done;
  watch.total = progress->total;
  return watch.cancel;
}

// Counts the pieces told in order and OK; -1 after one that is not.
void TARVELIN_CALLBACK OnPiece(const tarvelin_piece* piece, void* user_data) {
  int& next = *static_cast<int*>(user_data);
  if (next >= 0 && piece->number == next && piece->state == TARVELIN_PIECE_OK) {
    ++next;
  } else {
    next = -1;
  }
}

// The sample's bytes as a stream of the host's, 4 KiB a call at most, so that
// it takes many calls; `source` counts them.
long TARVELIN_CALLBACK ReadPattern(void* source, void* buffer, size_t size) {
  DWORD& offset = *static_cast<DWORD*>(source);
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  long count = 0;
  for (; count < 4096 && count < static_cast<long>(size) && offset < kSampleBytes; ++count) {
    bytes[count] = PatternByte(offset++);
  }
  return count;
}

// Static, as the buffers above: zero with no call to memset, and off the stack.
tarvelin_options g_options;
tarvelin_outcome g_outcome;
Watch g_watch;
char g_before[TARVELIN_FINGERPRINT_BYTES], g_after[TARVELIN_FINGERPRINT_BYTES];

void CheckPublicApi(const wchar_t* expected_version) {
  const wchar_t* const names[] = {L".\\msvc_api.img", L".\\msvc_api.0", L".\\msvc_api.1",
                                  L".\\msvc_api.2", L".\\msvc_api.DAT"};
  for (const wchar_t* name : names) DeleteFileW(name);  // an earlier run's
  Check(SameText(tarvelin_version(), expected_version), "tarvelin_version is the project version");
  Check(SameBytes(tarvelin_code_name(RC_CANCELLED), "RC_CANCELLED"), "tarvelin_code_name");

  Check(WriteSample(L".\\msvc_api.img"), "wrote the sample file again");
  g_outcome.size = sizeof g_outcome;
  DWORD offset = 0;
  Check(tarvelin_fingerprint_w(L".\\msvc_api.img", g_before, nullptr, &g_outcome) == RC_OK &&
            tarvelin_fingerprint_stream(ReadPattern, &offset, g_after, nullptr, nullptr) ==
                RC_OK &&
            offset == kSampleBytes && SameBytes(g_before, g_after) && g_before[47] == '\0',
        "tarvelin_fingerprint_w and _stream agree on the sample");

  g_options.size = sizeof g_options;
  g_options.piece_size = 1u << 20;
  g_options.progress = OnProgress;
  g_options.user_data = &g_watch;
  g_watch.cancel = 1;
  Check(tarvelin_split_w(L".\\msvc_api.img", &g_options, &g_outcome) == RC_CANCELLED &&
            g_outcome.code == RC_CANCELLED && g_outcome.step == TARVELIN_STEP_CANCELLED &&
            g_watch.calls >= 1 && Exists(L".\\msvc_api.img"),
        "a progress callback that returns 1 cancels tarvelin_split_w; the source stays");
  g_watch.cancel = g_watch.calls = 0;
  g_watch.sane = true;
  g_watch.done = 0;
  Check(tarvelin_split(".\\msvc_api.img", &g_options, &g_outcome) == RC_OK &&
            g_outcome.pieces == 3 && g_outcome.bytes == kSampleBytes && !Exists(L".\\msvc_api.img"),
        "the same split again through tarvelin_split cuts three pieces");
  Check(g_watch.calls > 0 && g_watch.sane && g_watch.total == 3ull * kSampleBytes,
        "its progress: known phases, done growing within three readings of the source");

  int next_piece = 0;
  g_options.progress = nullptr;
  g_options.piece = OnPiece;
  g_options.user_data = &next_piece;
  Check(tarvelin_verify(".\\msvc_api.img", &g_options, &g_outcome) == RC_OK && next_piece == 3 &&
            g_outcome.recorded == 3 && g_outcome.joined == TARVELIN_WHOLE_MATCHES,
        "tarvelin_verify tells every piece OK, in order");
  Check(tarvelin_merge_w(L".\\msvc_api.img", nullptr, &g_outcome) == RC_OK &&
            g_outcome.pieces == 3 && g_outcome.bytes == kSampleBytes &&
            SampleIsIntact(L".\\msvc_api.img") && !Exists(L".\\msvc_api.DAT"),
        "tarvelin_merge_w rebuilds the sample byte for byte");
  DeleteFileW(L".\\msvc_api.img");
  Check(tarvelin_merge_w(L".\\msvc_api.img", nullptr, &g_outcome) == RC_MANIFEST_NOT_FOUND &&
            g_outcome.step == TARVELIN_STEP_NOT_FOUND && g_outcome.role == TARVELIN_ROLE_MANIFEST,
        "the outcome of a merge with nothing to merge names the manifest");
}

}  // namespace

extern "C" void HostMain() {
  CheckVersionResource(FirstArgument(GetCommandLineW()));
  CheckClass();
  CheckRoundTrip();
  CheckPublicApi(FirstArgument(GetCommandLineW()));
  Print(g_failures == 0 ? "all checks passed\n" : "some checks failed\n");
  ExitProcess(g_failures == 0 ? 0 : 1);
}
