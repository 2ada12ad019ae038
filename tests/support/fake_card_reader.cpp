#include "support/fake_card_reader.h"

#include <cstring>

namespace qx::platform::fake {
namespace {

// The reader the entry points act on: that of the library loaded last.
FakeCardReader* active_reader = nullptr;

int QX_CARD_CALL FakeICReset() { return active_reader->Reset(); }
int QX_CARD_CALL FakeICStart(int port) { return active_reader->Start(port); }
int QX_CARD_CALL FakeICGet(const char* name, char* value) {
  return active_reader->Get(name, value);
}
int QX_CARD_CALL FakeICPut(const char* name, const char* value) {
  return active_reader->Put(name, value);
}
int QX_CARD_CALL FakeICExecute(int port) { return active_reader->Execute(port); }
int QX_CARD_CALL FakeICGeterrMsg(char* text) { return active_reader->GeterrMsg(text); }

// Typed first, so that a signature that drifts from the library's fails to compile.
using card::ICExecuteFunction;
using card::ICGeterrMsgFunction;
using card::ICGetFunction;
using card::ICPutFunction;
using card::ICResetFunction;
using card::ICStartFunction;
constexpr ICResetFunction kReset = FakeICReset;
constexpr ICStartFunction kStart = FakeICStart;
constexpr ICGetFunction kGet = FakeICGet;
constexpr ICPutFunction kPut = FakeICPut;
constexpr ICExecuteFunction kExecute = FakeICExecute;
constexpr ICGeterrMsgFunction kGeterrMsg = FakeICGeterrMsg;

void* AsEntryPoint(auto function) { return reinterpret_cast<void*>(function); }

}  // namespace

class FakeDynamicLibrary final : public DynamicLibrary {
 public:
  explicit FakeDynamicLibrary(FakeLibraryLoader& loader) : loader_(loader) {
    ++loader_.loads_;
    active_reader = &loader_.reader_;
  }
  ~FakeDynamicLibrary() override {
    ++loader_.unloads_;
    if (active_reader == &loader_.reader_ && loader_.loaded() == 0) {
      active_reader = nullptr;
    }
  }

  void* FindEntryPoint(const std::string& name) override {
    if (loader_.reader_.faults().IsMissing(name)) {
      return nullptr;
    }
    if (name == "ICReset") return AsEntryPoint(kReset);
    if (name == "ICStart") return AsEntryPoint(kStart);
    if (name == "ICGet") return AsEntryPoint(kGet);
    if (name == "ICPut") return AsEntryPoint(kPut);
    if (name == "ICExecute") return AsEntryPoint(kExecute);
    if (name == "ICGeterrMsg") return AsEntryPoint(kGeterrMsg);
    return nullptr;
  }

 private:
  FakeLibraryLoader& loader_;
};

Status FakeLibraryLoader::Load(const std::string& file_name,
                               std::unique_ptr<DynamicLibrary>* library) {
  library->reset();
  if (!library_present_ || file_name != library_name_) {
    return Status::NotFound(file_name + ": cannot open shared object file");
  }
  *library = std::make_unique<FakeDynamicLibrary>(*this);
  return Status::Ok();
}

std::optional<CardItems> FakeCardReader::ReadCard() {
  if (!card_present_) {
    return std::nullopt;
  }
  return card_;
}

bool FakeCardReader::WriteCard(const CardItems& items, std::string* error) {
  if (!card_present_) {
    *error = "card removed";
    return false;
  }
  card_ = items;
  ++commits_;
  return true;
}

}  // namespace qx::platform::fake
