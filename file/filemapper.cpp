#include "file/filemapper.h"

// No mapper is installed unless an embedding program sets one.
FileMapper* s_FileMapper = nullptr;
