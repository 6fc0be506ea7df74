#pragma once
// The platform's file: positioned reads and writes, one flush to the disk per command, and a lock
// that keeps other writers out while readers may go on. The only place that talks to the
// operating system.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Error.h"
#include "engine/io/WindowMemory.h"

namespace umbra {

class ImageFile {
 public:
  enum class Mode { ReadOnly, ReadWrite };

  // How much of the file the read-ahead keeps in memory. A file for one walk through the image
  // (listing every folder) needs little; one that finds, checks and writes the same folders again
  // keeps the metadata a command reads, so that nothing is read twice.
  static constexpr uint64_t kLargeCache = 48u << 20;
  static constexpr uint64_t kSmallCache = 4u << 20;
  // The windows' memory has room for the cache and a window beyond it, which an eviction before a
  // read may leave for a moment.
  explicit ImageFile(uint64_t cacheBudget = kLargeCache)
      : m_budget(cacheBudget), m_memory(cacheBudget + 2 * kWindowSize) {}
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile() { close(); }

  Error open(const std::string& path, Mode mode);
  void close();
  bool isOpen() const;
  bool isWritable() const { return isOpen() && m_mode == Mode::ReadWrite; }
  uint64_t size() const { return m_size; }

  // Reads up to n bytes at offset; got is how many arrived (fewer at the end of the file).
  // Small reads are served from read-ahead windows: a read that goes on where a window ends (a
  // walk through folders that lie side by side) reads further ahead each time, up to 256 KiB; a read
  // elsewhere reads only the sectors it needs, so a reader that jumps between folders and file
  // entries spread over the image reads each sector once, not a window each time.
  bool readAt(uint64_t offset, void* buffer, size_t n, size_t& got) const;
  // While one lives, a small read up to `gap` bytes after the end of a window reads the gap as
  // well and goes on ahead, as a read that goes on where the window ends does: for a walk whose
  // reads lie in order with a sector or so between them (a UDF walk: the folders of a level, and
  // between their entries those of their subfolders, read by the next level).
  class ReadThroughGaps {
   public:
    ReadThroughGaps(const ImageFile& file, uint64_t gap) : m_file(file), m_before(file.m_skipAhead) {
      file.m_skipAhead = gap;
    }
    ~ReadThroughGaps() { m_file.m_skipAhead = m_before; }
    ReadThroughGaps(const ReadThroughGaps&) = delete;
    ReadThroughGaps& operator=(const ReadThroughGaps&) = delete;

   private:
    const ImageFile& m_file;
    uint64_t m_before;
  };
  // Writes n bytes at offset. The bytes reach the disk with the next sync(); reads see them at once.
  bool writeAt(uint64_t offset, const void* buffer, size_t n);
  // Makes every write so far durable; false when the system could not.
  bool sync();
  // The last system error as text.
  static std::string lastErrorText();

  // What every ImageFile of the process has read from the system: bytes and calls.
  static uint64_t bytesRead() { return s_bytesRead; }
  static uint64_t readCalls() { return s_reads; }
  // Time every ImageFile of the process spent waiting for sync, in microseconds.
  static uint64_t syncMicroseconds() { return s_syncMicroseconds; }
  // Whether path still names the file held open here, as this object last saw it: the same file
  // on the same volume (device and inode, or volume serial and file index), with the size and
  // modification time it had when opened or last written through this object. Another file renamed
  // over the path, or bytes copied into the open file, make it false; why says which.
  bool stillNamedBy(const std::string& path, std::string& why) const;
  // Reads from the file itself, past the read-ahead windows, to see what another program wrote.
  bool readFresh(uint64_t offset, void* buffer, size_t n, size_t& got) const {
    return readCounted(offset, buffer, n, got);
  }

 private:
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
  bool readDirect(uint64_t offset, void* buffer, size_t n, size_t& got) const;

  bool readCounted(uint64_t offset, void* buffer, size_t n, size_t& got) const;

  struct Window {
    uint64_t lastUse = 0;
    size_t size = 0;      // bytes held
    size_t capacity = 0;  // bytes taken from m_memory; 0 when the window lives on the heap
    uint8_t* data = nullptr;
    std::unique_ptr<uint8_t[]> heapData;
  };
  // Erases a window and gives its memory back; returns the window after it.
  std::map<uint64_t, Window>::iterator eraseWindow(std::map<uint64_t, Window>::iterator it) const;
  // Over the budget, the less recently used half of the windows goes at once (so that a full cache
  // costs no scan per read).
  void evictOlderHalf() const;
  // Reads the window for a small read at offset that no window holds; nullptr on a failed read.
  // windowStart: where the window begins (a read ahead may start before offset's sector).
  Window* fill(uint64_t offset, size_t n, uint64_t& windowStart) const;
  mutable uint64_t m_skipAhead = 0;  // a gap after a window that a walk in order reads through
  std::map<uint64_t, Window>::iterator firstWindowFrom(uint64_t offset) const;
  // Which file, on which volume, with its size and modification time.
  struct Identity {
    uint64_t volume = 0;
    uint64_t file = 0;
    uint64_t size = 0;
    int64_t modified = 0;  // nanoseconds (Windows: 100 ns units)
  };
  bool identifyOpenFile(Identity& id) const;
  static bool identifyPath(const std::string& path, Identity& id);
  Identity m_seen;  // as opened, or as this object's last write left it

  void dropWindows(uint64_t offset, uint64_t n) const;
  // Copies written bytes into the read-ahead windows that hold them, so reads go on from memory.
  void updateWindows(uint64_t offset, const void* buffer, size_t n);

  static constexpr size_t kSector = 2048;
  static constexpr size_t kWindowSize = 256u << 10;

  static constexpr size_t kSmallRead = 32u << 10;
  Mode m_mode = Mode::ReadOnly;
  uint64_t m_size = 0;
  uint64_t m_budget;
  mutable WindowMemory m_memory;                 // declared before the windows, which it outlives
  mutable std::map<uint64_t, Window> m_windows;  // by first byte; windows never overlap
  mutable uint64_t m_cached = 0;                 // bytes held by the windows
  mutable uint64_t m_uses = 0;                   // the least recently used window goes first
  static std::atomic<uint64_t> s_bytesRead, s_reads, s_syncMicroseconds;
  bool syncNow();
};

}  // namespace umbra
