// The plug-in's fixed texts: what it returns to the host, never freed.
#pragma once

namespace plugin {

extern const char DLLProjectName[];
extern const char plugin_usage[];
extern const char plugin_default_parameters[];

// Messages of a failed start, in the order of the checks.
extern const char kMessageInvalidScreenSize[];
extern const char kMessageInconsistentParameters[];
extern const char kMessageLibraryNotFound[];
extern const char kMessageFunctionsNotFound[];
extern const char kMessageDisplayNotFound[];
extern const char kMessageIconThread[];

}  // namespace plugin
