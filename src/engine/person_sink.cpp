#include "engine/person_sink.h"

namespace engine {

const char* RoadName(PersonRoad road) {
  return road == PersonRoad::kDirectory ? "directory" : "address book";
}

}  // namespace engine
