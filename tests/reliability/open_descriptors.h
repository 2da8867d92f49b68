// SPDX-License-Identifier: MIT
// How many descriptors (handles on Windows) the process holds open, so that a
// test can tell whether an operation left one behind, whoever opened it.
#ifndef TARVELIN_TESTS_RELIABILITY_OPEN_DESCRIPTORS_H_
#define TARVELIN_TESTS_RELIABILITY_OPEN_DESCRIPTORS_H_

namespace tarvelin::testing {

// The count now, or -1 when the system does not tell.
int OpenDescriptors();

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_OPEN_DESCRIPTORS_H_
