// Resource identifiers of the launcher executable, shared by the resource
// script, the code that loads the resources and the tests that read them.
// Plain defines, so that the resource compiler can read this file too.
#ifndef RUNNER_RESOURCES_RESOURCE_H_
#define RUNNER_RESOURCES_RESOURCE_H_

// The icon group of the executable and of the window class.
#define IDI_APP_ICON 101

#endif  // RUNNER_RESOURCES_RESOURCE_H_
