// The block loop of one record, shared by packing and unpacking: blocks are read,
// passed through the cipher and written a chunk at a time, and the window gets
// its turn before every (total div 100) + 1-th block, exactly as block by block.
//
// The blocks between two of the window's turns form a piece. A large piece may be
// ciphered by two threads: the calling thread and one worker started for the
// record. The worker only runs Transform on buffers of this runner, while the
// calling thread reads, writes and helps with the cipher; it waits between
// pieces, so when the window takes its turn only the calling thread runs.
// Each block comes out the same, whichever thread ciphered it. Whether the worker
// pays depends on the system (the cost of starting a thread and of handing it
// work); the first large pieces of a command are timed both ways to find out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace resicrypt {

// The steps of one record's blocks. Read, Write and Due run on the calling thread,
// Read and Write in block order; Transform may run on two threads at once for
// different blocks, and must touch nothing but its arguments and constants.
class BlockSteps {
 public:
  virtual ~BlockSteps() = default;
  // Reads the next count blocks (count x the runner's inBytes).
  virtual bool Read(unsigned char* in, std::size_t count) = 0;
  // count blocks in -> count blocks out.
  virtual void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const = 0;
  // Writes count transformed blocks, the first of them block number first.
  virtual bool Write(const unsigned char* out, std::int32_t first, std::size_t count) = 0;
  // The window's turn, before block number block is read.
  virtual void Due(std::int32_t block) = 0;
};

enum class BlockRunResult { Done, ReadFailed, WriteFailed };

// How the blocks are cut up; the defaults suit the commands. The tests use small
// sizes and force the worker on, so that every boundary is crossed in small files.
struct BlockRunLimits {
  std::size_t chunkBytes;          // at most this many input bytes per read (at least one block)
  std::size_t chunksPerPiece;      // a threaded piece is read in about this many chunks
  std::size_t sliceBlocks;         // blocks a thread takes at a time from a chunk
  std::size_t threadedPieceBytes;  // pieces of at least this many input bytes use the worker
  bool threads;                    // whether a worker may be started at all
  bool tryBothWays;                // time large pieces with and without the worker first
};
BlockRunLimits DefaultBlockRunLimits();
// Puts limits in place for the runners made after it; returns the ones in place.
BlockRunLimits SetBlockRunLimits(const BlockRunLimits& limits);

class TransformCrew;

class BlockRunner {
 public:
  // inBytes and outBytes: bytes of one block before and after Transform.
  BlockRunner(std::size_t inBytes, std::size_t outBytes);

  // Blocks 1..total through steps.
  BlockRunResult Run(std::int32_t total, BlockSteps& steps);

 private:
  BlockRunResult RunPieces(std::int32_t total, BlockSteps& steps);
  BlockRunResult RunLargePiece(std::int32_t first, std::size_t count, BlockSteps& steps);
  BlockRunResult RunPiece(std::int32_t first, std::size_t count, BlockSteps& steps);
  BlockRunResult RunPieceThreaded(std::int32_t first, std::size_t count, BlockSteps& steps);
  // Starts the worker of the record, if it is not running yet.
  void StartCrew(const BlockSteps& steps);

  std::size_t inBytes_;
  std::size_t outBytes_;
  BlockRunLimits limits_;
  std::size_t chunkBlocks_;
  // The first large pieces of the command try both ways, then one is kept.
  enum class Trial { Trying, KeepWorker, OneThread };
  Trial trial_ = Trial::Trying;
  int triedPieces_ = 0;
  double bestOneThread_ = 0;  // seconds per block, 0 while not timed
  double bestWithWorker_ = 0;
  std::vector<unsigned char> in_[2];
  std::vector<unsigned char> out_[2];
  // The worker of the record being run, started at its first threaded piece.
  struct CrewDeleter {
    void operator()(TransformCrew* crew) const;
  };
  std::unique_ptr<TransformCrew, CrewDeleter> crew_;
};

}  // namespace resicrypt
