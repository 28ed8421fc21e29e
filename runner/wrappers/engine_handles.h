// Owners of the engine library's engine and view-controller handles, for the
// stretch of a wrapper's construction between the library's create call and
// the moment the wrapper itself takes the handle over: a later step that
// throws (an allocation) then ends the handle instead of orphaning it.
#ifndef RUNNER_WRAPPERS_ENGINE_HANDLES_H_
#define RUNNER_WRAPPERS_ENGINE_HANDLES_H_

#include "runner/flutter_windows.h"
#include "util/unique_handle.h"

namespace tw::runner {

using UniqueEngine =
    UniqueHandle<NullMeansNone<FlutterDesktopEngineRef, &FlutterDesktopEngineDestroy>>;
using UniqueViewController = UniqueHandle<
    NullMeansNone<FlutterDesktopViewControllerRef, &FlutterDesktopViewControllerDestroy>>;

}  // namespace tw::runner

#endif  // RUNNER_WRAPPERS_ENGINE_HANDLES_H_
