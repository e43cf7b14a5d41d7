/* A stand-in for the host core library, Stavrik.dll: it carries nothing but a version resource. The
   test support copies it under that name and stamps the copy with the version a test asks for. */
#include <windows.h>

__declspec(dllexport) int StavrikStandIn(void) { return 0; }
