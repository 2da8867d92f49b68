/* SPDX-License-Identifier: MIT */
/*
 * A host of the installed library that knows nothing of its source tree: it
 * includes <tarvelin/tarvelin.h> and links -ltarvelin. Written in the common
 * part of C99 and C++98, so that the consumer tests build it as both; as C++
 * it also uses the class.
 *
 * usage: round_trip FOLDER
 * Writes FOLDER/sample.img, splits it into 1 MiB pieces, merges it back and
 * compares; also checks a few failure codes. Prints what failed; exits 0 when
 * nothing did.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <tarvelin/tarvelin.h>

#define SAMPLE_BYTES ((2ul << 20) + 12345ul) /* three pieces of at most 1 MiB */

static int failures = 0;

static void check(int passed, const char* what) {
  if (!passed) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

static unsigned char pattern_byte(unsigned long offset) {
  return (unsigned char)((offset * 131ul) ^ (offset >> 13));
}

static int exists(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return 0;
  fclose(file);
  return 1;
}

/* path + suffix in `out` of 4096 bytes; the wide form in `wide`. */
static void name_in(const char* folder, const char* name, char* out, wchar_t* wide) {
  sprintf(out, "%.4000s/%s", folder, name);
  if (wide != NULL) mbstowcs(wide, out, 4096);
}

static int sample_is_intact(const char* path) {
  FILE* file = fopen(path, "rb");
  unsigned long offset = 0;
  int c;
  int intact = 1;
  if (file == NULL) return 0;
  while ((c = getc(file)) != EOF) {
    if ((unsigned char)c != pattern_byte(offset)) intact = 0;
    ++offset;
  }
  fclose(file);
  return intact && offset == SAMPLE_BYTES;
}

int main(int argc, char** argv) {
  static char path[4096], piece[4096];
  static wchar_t wide[4096], missing[4096];
  unsigned long offset;
  FILE* file;
  ResultCode result;

  if (argc != 2) {
    fprintf(stderr, "usage: round_trip FOLDER\n");
    return 2;
  }
  name_in(argv[1], "sample.img", path, wide);
  file = fopen(path, "wb");
  check(file != NULL, "create the sample");
  if (file == NULL) return 1;
  for (offset = 0; offset < SAMPLE_BYTES; ++offset) putc(pattern_byte(offset), file);
  check(fclose(file) == 0, "write the sample");

  result = SplitBigWIM(wide, 1);
  check(result == RC_OK, "SplitBigWIM gives RC_OK");
  name_in(argv[1], "sample.2", piece, NULL);
  check(!exists(path) && exists(piece), "the split leaves three pieces and no source");

  result = MergeIntoWIM(wide);
  check(result == RC_OK, "MergeIntoWIM gives RC_OK");
  check(sample_is_intact(path), "the merge rebuilds the sample byte for byte");
  name_in(argv[1], "sample.DAT", piece, NULL);
  check(!exists(piece), "the merge deletes the manifest");

  name_in(argv[1], "missing.img", piece, missing);
  check(SplitBigWIM(missing, 1) == RC_SOURCE_NOT_FOUND, "no source gives RC_SOURCE_NOT_FOUND");
  check(MergeIntoWIM(missing) == RC_MANIFEST_NOT_FOUND, "no manifest gives RC_MANIFEST_NOT_FOUND");
  check(RC_FILE_READ == 0xE0F00017u && sizeof(ResultCode) == 4, "the codes keep their values");

#ifdef __cplusplus
  {
    CTarvelin first;
    CTarvelin second;
    check(&(second = first) == &second, "CTarvelin's assignment returns its left side");
  }
#endif
  if (failures == 0) printf("round trip through the installed library: ok\n");
  return failures == 0 ? 0 : 1;
}
