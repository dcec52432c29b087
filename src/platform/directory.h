// The directory: binding objects by path, and commands over a connection.
//
// Commands take the four-part text "<GC://base>;filter;attributes;scope" and
// give rows whose fields come in the order of the attribute list. The
// filter dialect is RFC 4515 plus the forms listed in ldap_filter.h.
#ifndef TARNWICK_PLATFORM_DIRECTORY_H_
#define TARNWICK_PLATFORM_DIRECTORY_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/object.h"
#include "platform/variant.h"

namespace platform {

inline constexpr char kConnectionClass[] = "ADODB.Connection";
inline constexpr char kCommandClass[] = "ADODB.Command";

// A bound directory object ("GC://rootDSE", "GC://" + DN).
class DirectoryObject : public AutomationObject {
 public:
  // The attribute's value: a text for one value, an array of texts for
  // several. Raises 0x8000500D when the object has no such attribute.
  virtual Variant Get(const std::string& attribute) = 0;
  // "GC://" + the object's DN.
  virtual std::string ADsPath() = 0;
};

// Binds the object at a path. Raises 0x8007203A when the directory cannot
// be reached and 0x80072030 when there is no object at the path.
class DirectoryBinder {
 public:
  virtual ~DirectoryBinder() = default;
  virtual std::shared_ptr<DirectoryObject> Bind(const std::string& path) = 0;
};

class Connection : public AutomationObject {
 public:
  virtual void SetProvider(const std::string& provider) = 0;
  // Raises when the provider is not "ADsDSOObject" or the directory cannot
  // be reached.
  virtual void Open(const std::string& connection_string, const std::string& user,
                    const std::string& password, int32_t options) = 0;
  // Raises 3704 when the connection is not open.
  virtual void Close() = 0;
};

class Recordset : public AutomationObject {
 public:
  // 1 open, 0 closed.
  virtual int32_t State() = 0;
  // True after the last row, and at once when there are none.
  virtual bool AtEOF() = 0;
  // The current row's field at a 0-based position of the attribute list, or
  // by attribute name (without regard to case). A listed attribute the row
  // lacks is null; one with several values an array of texts. Raises 3265
  // for a position or name not in the list, 3021 when there is no current
  // row and 3704 when closed.
  virtual Variant FieldAt(int32_t position) = 0;
  virtual Variant Field(const std::string& name) = 0;
  virtual int32_t RecordCount() = 0;
  virtual void MoveFirst() = 0;
  // Raises 3021 at EOF.
  virtual void MoveNext() = 0;
  // Raises 3704 when already closed.
  virtual void Close() = 0;
};

class Command : public AutomationObject {
 public:
  virtual void SetActiveConnection(const std::shared_ptr<Connection>& connection) = 0;
  virtual void SetCommandText(const std::string& command_text) = 0;
  // The text last set, "" before any.
  virtual std::string CommandText() = 0;
  // Runs the command text over the active connection. Raises 0x80040E14 for
  // a command text or filter that does not parse, 3709 without an open
  // connection, and the directory's own errors (0x80072030 for a base that
  // does not exist).
  virtual std::shared_ptr<Recordset> Execute(int32_t options) = 0;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_DIRECTORY_H_
