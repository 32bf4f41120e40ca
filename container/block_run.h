// The block loop of one record, shared by packing and unpacking: blocks are read,
// passed through the cipher and written a chunk at a time, and the window gets
// its turn before every (total div 100) + 1-th block, exactly as block by block.
//
// The blocks between two of the window's turns form a piece. A large piece may be
// run by two threads, the calling thread and the worker of the process:
// each takes slices of the piece and reads, ciphers and writes them through a
// channel of its own (streams of its own on both files, used at the slices'
// offsets), so that neither thread waits for the other's file work. The worker
// waits between pieces: when the window takes its turn, every block before it has
// been read, ciphered and written, and only the calling thread runs.
// Each block comes out the same, whichever thread ran it. Whether the worker pays
// depends on the system (the cost of starting a thread and of waking it); the
// first large pieces of a command are timed both ways to find out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace resicrypt {

enum class BlockRunResult { Done, ReadFailed, WriteFailed };

// One thread's way to the blocks of a record: block number first and the count
// blocks after it, read from their offsets in the input and written to theirs in
// the output. A channel is used by one thread at a time.
class BlockChannel {
 public:
  virtual ~BlockChannel() = default;
  virtual bool ReadAt(unsigned char* in, std::int32_t first, std::size_t count) = 0;
  virtual bool WriteAt(const unsigned char* out, std::int32_t first, std::size_t count) = 0;
};

// The steps of one record's blocks. Read, Write, Due, OpenChannel and Align run on
// the calling thread, Read and Write in block order; Transform may run on two
// threads at once for different blocks, and must touch nothing but its arguments
// and constants.
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
  // A channel for one thread, or null when its streams cannot be opened (the
  // record then runs through Read and Write alone).
  virtual std::unique_ptr<BlockChannel> OpenChannel() = 0;
  // Puts the record's own streams right before block number block, around
  // blocks that went through channels: what the output holds in its buffer is
  // written out before, and Read and Write go on after them. ReadFailed or
  // WriteFailed when the input or the output fails.
  virtual BlockRunResult Align(std::int32_t block) = 0;
};

// How the blocks are cut up; the defaults suit the commands. The tests use small
// sizes and force the worker on, so that every boundary is crossed in small files.
struct BlockRunLimits {
  std::size_t chunkBytes;          // at most this many input bytes per read (at least one block)
  std::size_t sliceBytes;          // input bytes a thread takes at a time from a large piece
  std::size_t threadedPieceBytes;  // pieces of at least this many input bytes use the worker
  bool threads;                    // whether a worker may be started at all
  bool tryBothWays;                // time large pieces with and without the worker first
};
BlockRunLimits DefaultBlockRunLimits();

class InputFile;
class OutputFile;

// Where the blocks of a record lie when they sit one after the other in both
// files: block b at inBase + (b - 1) x inBytes of the input and at
// outBase + (b - 1) x outBytes of the output, except that block shortBlock (if
// not 0) is written shortBy bytes short and is the last one.
struct BlockPlaces {
  std::int64_t inBase = 0;
  std::size_t inBytes = 0;
  std::int64_t outBase = 0;
  std::size_t outBytes = 0;
  std::int32_t shortBlock = 0;
  std::size_t shortBy = 0;

  std::int64_t InOffset(std::int32_t block) const;
  std::int64_t OutOffset(std::int32_t block) const;
  // Output bytes of blocks first..first + count - 1.
  std::size_t OutLength(std::int32_t first, std::size_t count) const;
};

// A channel of streams of its own on input and output, which stay open; null when
// one cannot be opened.
std::unique_ptr<BlockChannel> OpenFileChannel(const InputFile& input, const OutputFile& output,
                                              const BlockPlaces& places);
// Align for steps whose blocks lie at places in input and output.
BlockRunResult AlignFiles(InputFile& input, OutputFile& output, const BlockPlaces& places,
                          std::int32_t block);
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
  // Opens the two channels and claims the worker for the record, if that has not
  // been done yet; false when a channel cannot be opened or the worker is taken.
  bool StartCrew(BlockSteps& steps);

  std::size_t inBytes_;
  std::size_t outBytes_;
  BlockRunLimits limits_;
  std::size_t chunkBlocks_;
  std::size_t sliceBlocks_;
  // The first large pieces of the command try both ways, then one is kept.
  enum class Trial { Trying, KeepWorker, OneThread };
  Trial trial_ = Trial::Trying;
  int triedPieces_ = 0;
  double bestOneThread_ = 0;  // seconds per block, 0 while not timed
  double bestWithWorker_ = 0;
  std::vector<unsigned char> in_;
  std::vector<unsigned char> out_;
  // The worker of the process, claimed for the record being run, and the two
  // channels, opened at its first threaded piece; channelsFailed_ once they could
  // not be opened (or the worker was taken) for the record.
  TransformCrew* crew_ = nullptr;
  std::unique_ptr<BlockChannel> callerChannel_;
  std::unique_ptr<BlockChannel> workerChannel_;
  bool channelsFailed_ = false;
};

}  // namespace resicrypt
