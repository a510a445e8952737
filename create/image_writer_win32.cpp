// Placeholder until the writer lands.
#include "create/image_writer.h"

bool ImageWriter() { return false; }
