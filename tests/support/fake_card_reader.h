// An in-memory card reader behind a LibraryLoader: what CardLibrary loads in tests instead of the
// vendor's library. The loader hands out real function pointers (the entry points are plain
// functions of the card library's types, card/card_abi.h, as a shared library's are) that act on
// the one FakeCardReader the loader serves. The reader is the simulated card reader's core
// (tools/card-sim/simulated_card_reader.h), so that the double and the simulated library behave
// alike; faults come from its CardFaults (tools/card-sim/card_faults.h), including entry points
// the "library" does not export. One loaded library at a time: the entry points act on the reader
// of the library loaded last.
//
// A test double, linked into tests and the fuzzing targets only (target qx_card_double); it
// stands in for platform::LibraryLoader and so shares the namespace of the platform's doubles.
#ifndef QX_TESTS_SUPPORT_FAKE_CARD_READER_H_
#define QX_TESTS_SUPPORT_FAKE_CARD_READER_H_

#include <memory>
#include <string>
#include <vector>

#include "card-sim/simulated_card_reader.h"
#include "card/card_abi.h"
#include "platform/dynamic_library.h"

namespace qx::platform::fake {

using CardItems = qxic::CardItems;

class FakeCardReader final : public qxic::SimulatedCardReader {
 public:
  // The card in the reader; tests change it freely, also between two calls of a run.
  CardItems& card() { return card_; }
  void set_card_present(bool present) { card_present_ = present; }

  // Every call in order, as journal lines (see simulated_card_reader.h).
  const std::vector<std::string>& journal() const { return journal_; }
  void ClearJournal() { journal_.clear(); }

  // How often ICExecute wrote the card.
  int commits() const { return commits_; }

 protected:
  std::optional<CardItems> ReadCard() override;
  bool WriteCard(const CardItems& items, std::string* error) override;
  void Journal(const std::string& line) override { journal_.push_back(line); }

 private:
  CardItems card_;
  bool card_present_ = true;
  std::vector<std::string> journal_;
  int commits_ = 0;
};

class FakeLibraryLoader final : public LibraryLoader {
 public:
  explicit FakeLibraryLoader(FakeCardReader& reader,
                             std::string library_name = card::kCardLibraryName)
      : reader_(reader), library_name_(std::move(library_name)) {}

  // Null for any other name than the library's, and when the library is absent.
  Status Load(const std::string& file_name, std::unique_ptr<DynamicLibrary>* library) override;

  void set_library_present(bool present) { library_present_ = present; }
  int loads() const { return loads_; }
  int unloads() const { return unloads_; }
  // Libraries loaded and not yet unloaded.
  int loaded() const { return loads_ - unloads_; }

 private:
  friend class FakeDynamicLibrary;

  FakeCardReader& reader_;
  std::string library_name_;
  bool library_present_ = true;
  int loads_ = 0;
  int unloads_ = 0;
};

}  // namespace qx::platform::fake

#endif  // QX_TESTS_SUPPORT_FAKE_CARD_READER_H_
