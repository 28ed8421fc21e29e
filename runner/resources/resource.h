// Resource identifiers of the launcher executable.
#ifndef RUNNER_RESOURCES_RESOURCE_H_
#define RUNNER_RESOURCES_RESOURCE_H_

// The window-class icon; LoadIconW(module, MAKEINTRESOURCEW(101)).
#define IDI_APP_ICON 101

#endif  // RUNNER_RESOURCES_RESOURCE_H_
