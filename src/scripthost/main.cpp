// chenglan-script-host: runs the engine part of one page's scripts for the
// client, which starts it with a socket on file descriptor 3 and kills it
// when a script outlives its bound (see src/web/ScriptEngineProcess.h).
#include "script/ScriptEngineProcess.h"

int main(int argc, char **argv) { return chenglan::serveScriptEngine(argc, argv); }
