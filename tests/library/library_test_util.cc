// SPDX-License-Identifier: MIT
#include "tests/library/library_test_util.h"

#include "digest/fingerprint.h"

namespace tarvelin::testing {

Workspace::Workspace(const std::wstring& file_name) : source_(dir_.Path(file_name)) {
  const std::size_t dot = file_name.rfind(L'.');
  base_ = dir_.Path(dot == std::wstring::npos ? file_name : file_name.substr(0, dot));
}

std::string Workspace::MakeSource(std::uint64_t size, std::uint32_t seed) {
  std::string bytes = PatternBytes(size, seed);
  WriteFileBytes(source_, bytes);
  return bytes;
}

std::vector<std::uint64_t> Workspace::PieceSizes() const {
  std::vector<std::uint64_t> sizes;
  for (int n = 0; FileExists(piece(n)); ++n) sizes.push_back(FileSizeOf(piece(n)));
  return sizes;
}

std::string Workspace::JoinedPieces() const {
  std::string joined;
  for (int n = 0; FileExists(piece(n)); ++n) joined += ReadFileBytes(piece(n));
  return joined;
}

void LeaveInterruptedMerge(const Workspace& ws, const std::string& original,
                           std::uint64_t joined_bytes, int gone) {
  WriteFileBytes(ws.source(), original.substr(0, joined_bytes));
  for (int n = 0; n < gone; ++n) std::filesystem::remove(FsPath(ws.piece(n)));
}

std::uint64_t CallNumber(const std::vector<Call>& calls, Op op, const std::wstring& path,
                         int occurrence) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].op == op && calls[i].path == path && --occurrence == 0) return i + 1;
  }
  return 0;
}

std::vector<Call> WithoutFolder(std::vector<Call> calls, const std::wstring& folder) {
  for (Call& call : calls) {
    if (call.path.compare(0, folder.size(), folder) == 0) call.path = call.path.substr(folder.size());
  }
  return calls;
}

std::wstring InFolder(const std::wstring& name) {
#if defined(_WIN32)
  return L"\\" + name;
#else
  return L"/" + name;
#endif
}

int FingerprintReads(std::uint64_t size) {
  return static_cast<int>((size + kFingerprintReadSize - 1) / kFingerprintReadSize) + 1;
}

ResultCode SplitWith(Platform* platform, const std::wstring& path, std::int32_t mib) {
  OperationOptions options;
  options.platform = platform;
  return Split(path.c_str(), PieceLimit(mib), options);
}

ResultCode MergeWith(Platform* platform, const std::wstring& path) {
  OperationOptions options;
  options.platform = platform;
  return Merge(path.c_str(), options);
}

}  // namespace tarvelin::testing
