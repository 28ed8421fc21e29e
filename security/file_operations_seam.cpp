#include "security/file_operations_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

SeamTable<FileOperations, &FileOperations::read, &FileOperations::write, &FileOperations::flush,
          &FileOperations::set_information>
    g_seam;

}  // namespace

const FileOperations& CurrentFileOperations() { return g_seam.current(); }

FileOperations SetFileOperationsForTesting(const FileOperations& api) {
  return g_seam.Install(api);
}

}  // namespace tw::security
