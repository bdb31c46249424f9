#ifndef TREL_TOOLS_AVATAR_SENDER_H
#define TREL_TOOLS_AVATAR_SENDER_H

// One-shot senders to an avatar program listening on TCP: each opens a
// connection to `host`:`port`, sends one payload and closes. The payload ends
// with the connection; there is no length prefix or terminator.
//
// A std::string thrown while connecting or sending (the host does not
// resolve, the connection is refused) is written to standard error as
// "An error occured: " and the text, and the function returns normally.
// Failures to open a socket ("INVALID_SOCKET") reach the caller.

#include <fstream>
#include <string>

#include "trel_tools/export.h"

namespace trel {

// Sends "<?xml version='1.0' encoding='utf-8'?>" and then
// "<avatar name='NAME'/>", with &, <, >, ' and " in the name written as XML
// entities (&amp; &lt; &gt; &apos; &quot;) so that any name gives well-formed
// XML. Waits 500 ms after closing the connection before returning.
TREL_TOOLS_EXPORT void write_string_to_socket(std::string name, std::string host, int port);

// Sends the bytes of `file` from its current position up to, not including,
// the first NUL byte or the end of the file. The file stays open, positioned
// just after the NUL (or at the end, with eofbit and failbit set, as a last
// get() would leave it).
TREL_TOOLS_EXPORT void write_file_to_socket(std::ifstream& file, std::string host, int port);

}  // namespace trel

#endif
