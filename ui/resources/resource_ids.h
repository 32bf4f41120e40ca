// Resource identifiers shared by the resource script and the window code.
#pragma once

#define RESICRYPT_ICON 1
// Explorer shows it for .yal containers: "Resicrypt.exe,-2" in the file type's DefaultIcon.
#define RESICRYPT_CONTAINER_ICON 2
