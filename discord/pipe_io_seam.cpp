#include "discord/pipe_io_seam.h"

#include "util/seam.h"

namespace tw::discord {
namespace {

PipeIo g_io;

}  // namespace

const PipeIo& CurrentPipeIo() { return g_io; }

PipeIo SetPipeIoForTesting(const PipeIo& io) {
  const PipeIo previous = g_io;
  const PipeIo platform;
  g_io.create_file = OrPlatform(io.create_file, platform.create_file);
  g_io.read_file = OrPlatform(io.read_file, platform.read_file);
  g_io.write_file = OrPlatform(io.write_file, platform.write_file);
  return previous;
}

}  // namespace tw::discord
