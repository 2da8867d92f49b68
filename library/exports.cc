// SPDX-License-Identifier: MIT
// The exported surface. The exports use the platform that the build chose and
// report no progress.
#include <cstdint>

#include "library/operations.h"
#include "tarvelin/tarvelin.h"

static_assert(sizeof(int) == sizeof(std::int32_t), "pieceSizeMiB is a 32-bit number");

extern "C" ResultCode TARVELIN_CALL SplitBigWIM(const wchar_t* path, int pieceSizeMiB) {
  return tarvelin::Split(path, tarvelin::PieceLimit(pieceSizeMiB));
}

extern "C" ResultCode TARVELIN_CALL MergeIntoWIM(const wchar_t* path) {
  return tarvelin::Merge(path);
}

CTarvelin::CTarvelin() {}

CTarvelin& CTarvelin::operator=(const CTarvelin&) { return *this; }
