#include "FileHandles.h"

namespace tbm::fs {

HandleTable& FileHandles() {
  static HandleTable table('F', 'S');
  return table;
}

}  // namespace tbm::fs
