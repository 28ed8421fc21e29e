#include "security/file_operations_seam.h"

#include "util/seam.h"

namespace tw::security {
namespace {

FileOperations g_operations;

}  // namespace

const FileOperations& CurrentFileOperations() { return g_operations; }

FileOperations SetFileOperationsForTesting(const FileOperations& operations) {
  const FileOperations previous = g_operations;
  const FileOperations platform;
  g_operations.read = OrPlatform(operations.read, platform.read);
  g_operations.write = OrPlatform(operations.write, platform.write);
  g_operations.flush = OrPlatform(operations.flush, platform.flush);
  g_operations.set_information = OrPlatform(operations.set_information, platform.set_information);
  return previous;
}

}  // namespace tw::security
