/* SPDX-License-Identifier: MIT */
/*
 * A C99 host of the installed library's own functions (tarvelin_*): options
 * with both callbacks, cancelled runs, the outcome, the names and the
 * version, through <tarvelin/tarvelin.h> and -ltarvelin alone.
 *
 * usage: public_api FOLDER VERSION
 * Writes FOLDER/sample.img, splits it into 1 MiB pieces (cancelling the first
 * two attempts, by the callback and by the flag), verifies, merges and
 * compares. Prints what failed; exits 0 when nothing did.
 */
#include <stdio.h>
#include <string.h>

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

/* What the progress callback saw; it cancels at its first call when asked. */
struct watch {
  int calls, cancel, sane;
  uint64_t done, total; /* the last report's */
};

static int TARVELIN_CALLBACK on_progress(const tarvelin_progress* progress, void* user_data) {
  struct watch* watch = user_data;
  ++watch->calls;
  watch->sane &= progress->phase >= TARVELIN_PHASE_FINGERPRINT_SOURCE &&
                 progress->phase <= TARVELIN_PHASE_FLUSH && progress->done >= watch->done &&
                 progress->done <= progress->total && progress->piece >= -1 &&
                 (progress->piece_count == 0 || progress->piece < progress->piece_count);
  watch->done = progress->done;
  watch->total = progress->total;
  return watch->cancel;
}

static void TARVELIN_CALLBACK on_piece(const tarvelin_piece* piece, void* user_data) {
  int* next = user_data; /* the next piece's number; -1 after one out of order or not OK */
  if (*next >= 0 && piece->number == *next && piece->state == TARVELIN_PIECE_OK) ++*next;
  else *next = -1;
}

static int sample_is_intact(const char* path) {
  FILE* file = fopen(path, "rb");
  unsigned long offset = 0;
  int c, intact = 1;
  if (file == NULL) return 0;
  while ((c = getc(file)) != EOF) intact &= (unsigned char)c == pattern_byte(offset++);
  fclose(file);
  return intact && offset == SAMPLE_BYTES;
}

int main(int argc, char** argv) {
  static char path[4000], name[4100];
  char text[TARVELIN_FINGERPRINT_BYTES], before[TARVELIN_FINGERPRINT_BYTES];
  struct watch watch;
  tarvelin_options options;
  tarvelin_outcome outcome;
  unsigned long offset;
  int next_piece = 0;
  static volatile int stop = 1;
  FILE* file;

  if (argc != 3 || strlen(argv[1]) > 3900) {
    fprintf(stderr, "usage: public_api FOLDER VERSION\n");
    return 2;
  }
  sprintf(path, "%s/sample.img", argv[1]);
  file = fopen(path, "wb");
  check(file != NULL, "create the sample");
  if (file == NULL) return 1;
  for (offset = 0; offset < SAMPLE_BYTES; ++offset) putc(pattern_byte(offset), file);
  check(fclose(file) == 0, "write the sample");

  check(strcmp(tarvelin_version(), argv[2]) == 0, "tarvelin_version is the project's version");
  check(strcmp(tarvelin_code_name(RC_CANCELLED), "RC_CANCELLED") == 0 &&
            strcmp(tarvelin_code_name(0x1234u), "RC_UNKNOWN") == 0,
        "tarvelin_code_name names the codes");
  sprintf(name, "%s/sample.DAT", argv[1]);
  check(tarvelin_manifest_name(path, name + 2000, 2000) == strlen(name) &&
            strcmp(name + 2000, name) == 0 &&
            tarvelin_manifest_name(path, text, 4) == strlen(name) && strlen(text) == 3,
        "tarvelin_manifest_name gives BASE.DAT, and its whole length when cut short");
  sprintf(name, "%s/sample.12", argv[1]);
  check(tarvelin_piece_name(path, 12, name + 2000, 2000) == strlen(name) &&
            strcmp(name + 2000, name) == 0 && tarvelin_piece_name("", 0, NULL, 0) == 0,
        "tarvelin_piece_name gives BASE.12, and 0 for no path");
  check(tarvelin_fingerprint(path, before, NULL, NULL) == RC_OK && strlen(before) == 47 &&
            before[2] == ' ',
        "tarvelin_fingerprint gives 16 hexadecimal pairs");

  memset(&options, 0, sizeof options);
  options.size = sizeof options;
  options.piece_size = 1u << 20;
  options.progress = on_progress;
  options.user_data = &watch;
  memset(&watch, 0, sizeof watch);
  watch.cancel = 1;
  memset(&outcome, 0, sizeof outcome);
  outcome.size = sizeof outcome;
  check(tarvelin_split(path, &options, &outcome) == RC_CANCELLED && outcome.code == RC_CANCELLED &&
            outcome.step == TARVELIN_STEP_CANCELLED && watch.calls >= 1,
        "a progress callback that returns 1 cancels the split: RC_CANCELLED");
  check(tarvelin_fingerprint(path, text, NULL, NULL) == RC_OK && strcmp(text, before) == 0,
        "the cancelled split keeps its source");
  watch.cancel = 0;
  options.cancel = &stop;
  check(tarvelin_split(path, &options, &outcome) == RC_CANCELLED &&
            outcome.step == TARVELIN_STEP_CANCELLED,
        "so does a cancel flag that is set");
  options.cancel = NULL;

  memset(&watch, 0, sizeof watch);
  watch.sane = 1;
  check(tarvelin_split(path, &options, &outcome) == RC_OK && outcome.code == RC_OK &&
            outcome.pieces == 3 && outcome.bytes == SAMPLE_BYTES,
        "the same split again cuts three pieces");
  check(watch.calls > 0 && watch.sane && watch.total == 3 * (uint64_t)SAMPLE_BYTES,
        "its progress: split phases, done growing within a total of three readings");

  options.piece = on_piece;
  options.user_data = &next_piece;
  options.progress = NULL;
  check(tarvelin_verify(path, &options, &outcome) == RC_OK && next_piece == 3 &&
            outcome.recorded == 3 && outcome.joined == TARVELIN_WHOLE_MATCHES,
        "tarvelin_verify tells every piece OK, in order, and the whole matches");

  check(tarvelin_merge(path, NULL, &outcome) == RC_OK && outcome.pieces == 3 &&
            outcome.bytes == SAMPLE_BYTES && sample_is_intact(path),
        "tarvelin_merge rebuilds the sample byte for byte");
  check(tarvelin_fingerprint(path, text, NULL, NULL) == RC_OK && strcmp(text, before) == 0,
        "the rebuilt file has the source's fingerprint");
  sprintf(name, "%s/missing.img", argv[1]);
  check(tarvelin_merge(name, NULL, &outcome) == RC_MANIFEST_NOT_FOUND &&
            outcome.step == TARVELIN_STEP_NOT_FOUND && outcome.role == TARVELIN_ROLE_MANIFEST &&
            strstr(outcome.file, "missing.DAT") != NULL,
        "a merge with neither manifest nor file says which file it missed");
  options.piece_size = 1000;
  check(tarvelin_split(path, &options, &outcome) == RC_INVALID_ARGUMENT &&
            outcome.step == TARVELIN_STEP_BAD_OPTIONS,
        "a piece size under 512 KiB is RC_INVALID_ARGUMENT");

  if (failures == 0) printf("the public functions through the installed library: ok\n");
  return failures == 0 ? 0 : 1;
}
