// Resource identifiers shared by the resource script and the window code.
#pragma once

#define RESICRYPT_ICON 1
