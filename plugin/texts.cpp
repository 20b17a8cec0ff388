// The plug-in's fixed texts, exactly as the host shows them.
#include "plugin/texts.h"

namespace plugin {

const char DLLProjectName[] = "Vestrix LCD Display DLL";

const char plugin_usage[] =
    "Usage: <ShutdownMode<,AudioDisplay>>\n"
    "where OnShutdown = message, clock or off\n"
    "           AudioIcons = audio or <blank>";
static_assert(sizeof plugin_usage - 1 == 118);

const char plugin_default_parameters[] = "";

const char kMessageInvalidScreenSize[] = "VESTRIX.DLL Invalid Screen size";
const char kMessageInconsistentParameters[] =
    "VESTRIX.DLL Exception: Inconsistent parameters. More than one shutdown parameter specified!";
const char kMessageLibraryNotFound[] =
    "VESTRIX.DLL Exception: sg_vfd.dll not found! Did you copy it to your Lumidor directory? ";
const char kMessageFunctionsNotFound[] =
    "VESTRIX.DLL: sg_vfd.dll critical funtion pointers not found!";
const char kMessageDisplayNotFound[] =
    "VESTRIX.DLL: Unable to Initialize the display. Display hardware not found";
const char kMessageIconThread[] = "VESTRIX.DLL: Unable to Initialize the Icon Update Thread!";

}  // namespace plugin
