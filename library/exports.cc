// The exported surface. The exports use the platform that the build chose and
// report no progress.
#include "library/operations.h"
#include "library/tarvelin.h"

extern "C" ResultCode SplitBigWIM(const wchar_t* path, std::int32_t pieceSizeMiB) {
  return tarvelin::Split(path, pieceSizeMiB);
}

extern "C" ResultCode MergeIntoWIM(const wchar_t* path) { return tarvelin::Merge(path); }

CTarvelin::CTarvelin() {}

CTarvelin& CTarvelin::operator=(const CTarvelin&) { return *this; }
