// The tap interface's key function: its virtual table and type information live in the host.
#include "CBrickTap.h"

CBrickTap::~CBrickTap() {}
