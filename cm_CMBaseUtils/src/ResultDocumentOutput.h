#ifndef CM_CMBASEUTILS_RESULTDOCUMENTOUTPUT_H
#define CM_CMBASEUTILS_RESULTDOCUMENTOUTPUT_H

#include <fstream>
#include <string>

// Where the result document writers put their text: the result file when it
// opened, standard output otherwise. The writers log each outcome
// themselves, so that their log lines keep their own unit and words; these
// only do the stream work and hand back what a standard exception said.

// Opens `file` on `fileName` for output, replacing an existing file. A file
// that does not open is no error: the stream stays closed and the document
// goes to standard output. False, with the exception's what() text in
// `error`, only when opening raised a standard exception.
bool OpenResultFile(std::ofstream& file, const std::string& fileName, std::string& error);

// Writes `text` to `file` when it is open, else to standard output; nothing
// is flushed and no line break added. `toFile` tells which one took it.
// False, with the exception's what() text in `error`, when testing the file
// or writing raised a standard exception.
bool WriteResultText(std::ofstream& file, const std::string& text, bool& toFile, std::string& error);

#endif
