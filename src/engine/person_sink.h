// The persons an expansion reports, handed to a host as data.
//
// The engine's own output is the run log; a host that wants the persons
// themselves (tarnwick-host's `expand`) attaches a sink to the KVL object
// with KVL::AttachPersonSink. The sink belongs to the KVL object rather than
// to a global so that it lives exactly as long as the run it watches, and a
// second KVL object (a test, a later run) never reports into a sink left
// behind. Attaching a sink changes neither what the engine does nor a byte
// of its log: it is told only after the line is written, and values that
// cost platform calls are read only when a sink is attached.
#ifndef TARNWICK_ENGINE_PERSON_SINK_H_
#define TARNWICK_ENGINE_PERSON_SINK_H_

#include <string>

namespace engine {

// How the engine came to the person.
enum class PersonRoad {
  kAddressBook,  // a member of a list walked through the address book
  kDirectory,    // a row of a query-based list's directory query
};

// "address book" or "directory".
const char* RoadName(PersonRoad road);

struct ReportedPerson {
  // As the log line names it: the entry's display name, trimmed (address
  // book), or the row's `name` (directory).
  std::string name;
  // Lower-cased and trimmed: the entry's primary SMTP address (address
  // book), or the row's `mail` (directory); "" when there is none.
  std::string smtp;
  // Lower-cased and trimmed: the entry's address when it is an "EX" entry
  // (address book), or the row's `legacyExchangeDN` (directory); "" when
  // there is none (a one-off SMTP entry, a row without the attribute).
  std::string odn;
  PersonRoad road = PersonRoad::kAddressBook;
};

class PersonSink {
 public:
  virtual ~PersonSink() = default;
  // Called once per "reading properties for" / "adding record for" line,
  // right after it is logged, so a person met twice is reported twice.
  // Must not raise platform::PlatformError: the engine would take it for a
  // failure of its own calls. Anything else it throws ends the run, as it
  // would from any engine call.
  virtual void OnPerson(const ReportedPerson& person) = 0;
};

}  // namespace engine

#endif  // TARNWICK_ENGINE_PERSON_SINK_H_
