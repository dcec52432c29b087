// The contacts that the contact-folder merge reads, handed to a host as
// data.
//
// The merge stores nothing: what it works out for a contact is dropped at
// the end of the row. A host that wants it (tarnwick-host's `merge`)
// attaches a sink to the KVL object with KVL::AttachContactSink, as with the
// person sink (engine/person_sink.h), and for the same reasons the sink
// belongs to the object. Attaching one changes neither what the merge does
// nor a byte of its log.
#ifndef TARNWICK_ENGINE_CONTACT_SINK_H_
#define TARNWICK_ENGINE_CONTACT_SINK_H_

#include <string>
#include <vector>

namespace engine {

struct ContactRead {
  // The name of the folder read, and whether it is the Master Contact
  // Repository folder (else an Alternate Contact Folder).
  std::string folder;
  bool repository = false;
  // The display name (the contact's subject), trimmed.
  std::string name;
  // Up to three SMTP addresses in slot order, empty positions left out: an
  // SMTP-shaped slot address lower-cased, trimmed and without enclosing
  // single quotes, or a resolved Exchange address's primary SMTP address;
  // an address equal to one already held is dropped.
  std::vector<std::string> smtp;
  // The SMTP-shaped slot addresses in slot order, each followed by ";", as
  // the slots hold them once lower-cased, trimmed and unquoted; not
  // de-duplicated.
  std::string smtp_list;
  // The first Exchange address of the row that resolved, trimmed, as the
  // slot holds it; "" when none did. And its lower-cased form followed by
  // ";" ("" when there is none).
  std::string odn;
  std::string odn_list;
  // The entry identifier that the address book gave for `odn`.
  std::string entry_id;
};

class ContactSink {
 public:
  virtual ~ContactSink() = default;
  // Called once per contact row read, after the row's lines are logged.
  // Must not raise platform::PlatformError (the engine would take it for a
  // failure of its own calls).
  virtual void OnContact(const ContactRead& contact) = 0;
};

}  // namespace engine

#endif  // TARNWICK_ENGINE_CONTACT_SINK_H_
