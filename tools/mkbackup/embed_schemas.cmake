# Turns ios-schemas.sql into a C++ source file so that mkbackup needs no data files.
file(READ ${IN} _content)
file(WRITE ${OUT} "// Generated from ios-schemas.sql; do not edit.\n#include <string>\nnamespace bv::mkbackup {\nextern const char kIosSchemasText[];\nconst char kIosSchemasText[] = R\"mkb(${_content})mkb\";\n}\n")
