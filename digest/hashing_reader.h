// SPDX-License-Identifier: MIT
// Reading a file to its end while its bytes are hashed, on two cores when the
// platform gives a second thread.
//
// MD5 runs at the speed of one long chain of dependent steps, and the
// kernel's copy of each read into the buffer comes on top of it on the same
// core. So the caller's thread only reads, into one stretch of the buffer,
// while a background thread hashes the stretch filled before. Every platform
// call stays on the caller's thread, in the order and with the sizes that a
// plain read-then-hash loop would use, so faults, last-error values and
// progress are the same with and without the second thread.
#ifndef TARVELIN_DIGEST_HASHING_READER_H_
#define TARVELIN_DIGEST_HASHING_READER_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/platform.h"

namespace tarvelin {

// Files are read in requests of this many bytes (the last one that returns
// data may return fewer, and one more finds the end). The kernel copies each
// request from the page cache into the buffer; a request this size keeps the
// copy's source and destination within half of the smallest second-level
// cache of current processors (256 KiB). Larger requests save calls but send
// the copy out to the farther caches or to memory, which costs the kernel
// more than the calls saved.
constexpr std::uint32_t kFingerprintReadSize = 64u << 10;

// The reads fill stretches of kHashStretch bytes, in turn; a full stretch
// goes to the hashing thread as one job, and the reads go on into the next
// as long as one is free. With several stretches queued the hashing thread
// goes from one to the next without waiting for the reading thread to wake.
constexpr std::uint32_t kHashStretch = 4 * kFingerprintReadSize;
constexpr std::uint32_t kHashStretches = 4;

// Receives the bytes in file order, on whichever thread hashes them; it must
// not call the platform.
using HashBytes = std::function<void(const unsigned char* bytes, std::uint32_t size)>;
// Told how many bytes each read returned, on the caller's thread, at once;
// returns false to stop the reading there.
using BytesRead = std::function<bool(std::uint32_t size)>;

// The second thread that ReadAndHash hashes on, kept from one file to the
// next: an operation that fingerprints many files (a split into small
// pieces, a merge, a verify) starts one thread, not one per file, and its
// thread is already running and warm when the next file comes. The thread
// is asked for at the first file that fills a stretch, once; it ends when
// this is destroyed, and between two files it holds no job.
class HashingThread {
 public:
  explicit HashingThread(Platform& platform) : platform_(platform) {}
  HashingThread(const HashingThread&) = delete;
  HashingThread& operator=(const HashingThread&) = delete;

  // The thread, started at the first call; null when the platform gave none.
  BackgroundThread* Get();

 private:
  Platform& platform_;
  std::unique_ptr<BackgroundThread> thread_;
  bool asked_ = false;
};

// Reads the open `file` (which needs read access) from its position to its
// end and gives every byte to `hash`, in order. Returns true at the end of
// the file. Returns false when a read fails: `hash` has then been given
// every byte before the failure, the failed read's last-error value stands,
// and the file stays where that read left it. Returns false too, with the
// last-error value kErrorCancelled, when `on_read` asks to stop. `hash` has returned for the
// last time before this returns. Nothing is thrown that `hash` and `on_read`
// do not throw: a job that cannot be queued for want of memory is hashed on
// the caller's thread, after those queued before it.
//
// The hashing goes to `hashing`'s thread, or without one to a thread of
// this call's own; either is asked for once the first stretch is full, so a
// file of one stretch or less is hashed on the caller's thread alone.
// Without a second thread, or without memory for the stretches, the same
// reads are hashed in turn on the caller's thread; the latter reads 4096
// bytes at a time from the stack.
bool ReadAndHash(Platform& platform, FileHandle file, const HashBytes& hash,
                 const BytesRead& on_read, HashingThread* hashing = nullptr);

}  // namespace tarvelin

#endif  // TARVELIN_DIGEST_HASHING_READER_H_
