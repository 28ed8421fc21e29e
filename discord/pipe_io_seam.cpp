#include "discord/pipe_io_seam.h"

#include "util/seam.h"

namespace tw::discord {
namespace {

SeamTable<PipeIo, &PipeIo::create_file, &PipeIo::read_file, &PipeIo::write_file> g_seam;

}  // namespace

const PipeIo& CurrentPipeIo() { return g_seam.current(); }

PipeIo SetPipeIoForTesting(const PipeIo& api) { return g_seam.Install(api); }

}  // namespace tw::discord
