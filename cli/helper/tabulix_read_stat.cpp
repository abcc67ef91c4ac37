// tabulix-read-stat: the child process that parses one SPSS, Stata or SAS
// file for the importer (import/stat_file_reader.h), under resource limits,
// writing what it reads to standard output.
#include "import/stat_file_parse.h"

int main(int argc, char** argv) { return tabulix::statFileChildMain(argc, argv); }
