// Resolving the plug-in's entry points in a loaded build of it.
#include "plugin/entry_points.h"

namespace plugin {
namespace {

template <typename Function>
void Resolve(platform::Library* library, const char* name, Function* slot,
             const char** first_missing) {
  if (!platform::Resolve(library, name, slot) && *first_missing == nullptr) {
    *first_missing = name;
  }
}

}  // namespace

const char* ResolveEntryPoints(platform::Library* library, EntryPoints* entry_points,
                               bool decorated) {
  EntryPoints& e = *entry_points;
  const char* missing = nullptr;
  auto name = [decorated](const char* plain, const char* with_size) {
    return decorated ? with_size : plain;
  };
  Resolve(library, name("DISPLAYDLL_Init", "DISPLAYDLL_Init@16"), &e.Init, &missing);
  Resolve(library, name("DISPLAYDLL_Done", "DISPLAYDLL_Done@0"), &e.Done, &missing);
  Resolve(library, name("DISPLAYDLL_DriverName", "DISPLAYDLL_DriverName@0"), &e.DriverName,
          &missing);
  Resolve(library, name("DISPLAYDLL_Usage", "DISPLAYDLL_Usage@0"), &e.Usage, &missing);
  Resolve(library, name("DISPLAYDLL_DefaultParameters", "DISPLAYDLL_DefaultParameters@0"),
          &e.DefaultParameters, &missing);
  Resolve(library, name("DISPLAYDLL_SetPosition", "DISPLAYDLL_SetPosition@8"), &e.SetPosition,
          &missing);
  Resolve(library, name("DISPLAYDLL_Write", "DISPLAYDLL_Write@4"), &e.Write, &missing);
  Resolve(library, name("DISPLAYDLL_SetBrightness", "DISPLAYDLL_SetBrightness@4"), &e.SetBrightness,
          &missing);
  Resolve(library, name("DISPLAYDLL_CustomChar", "DISPLAYDLL_CustomChar@8"), &e.CustomChar,
          &missing);
  Resolve(library, name("DISPLAYDLL_CustomCharIndex", "DISPLAYDLL_CustomCharIndex@4"),
          &e.CustomCharIndex, &missing);
  Resolve(library, name("DISPLAYDLL_SetContrast", "DISPLAYDLL_SetContrast@4"), &e.SetContrast,
          &missing);
  Resolve(library, name("DISPLAYDLL_SetFan", "DISPLAYDLL_SetFan@8"), &e.SetFan, &missing);
  return missing;
}

}  // namespace plugin
