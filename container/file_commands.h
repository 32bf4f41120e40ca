// The file commands of the main window, written against the form port.
#pragma once

#include "ui/form_port.h"

namespace resicrypt {

// The contact line that opens the report of both file commands.
extern const char kProductLine[];

// "Encrypt  File" (Button2): packs the files chosen in the open dialog into one
// container named in the save dialog, under the password typed into both fields.
void Button2Click(FormPort& form);

// "Decrypt  File" (Button1): unpacks the container chosen in the open dialog into
// its own folder, after checking the password against the container's header.
void Button1Click(FormPort& form);

}  // namespace resicrypt
