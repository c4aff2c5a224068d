// The pxlib peer: reading every record of a Paradox file through the library, decoding every
// field, as a program built on pxlib would.
#include "BenchSupport.h"

#include "SysUtils.h"

#ifdef KVBENCH_PXLIB
extern "C" {
#include <paradox.h>
}

#include <memory>

using namespace kv;

namespace {
struct TPxDeleter {
  void operator()(pxdoc_t* Doc) const {
    PX_close(Doc);
    PX_delete(Doc);
  }
};
using TPxPtr = std::unique_ptr<pxdoc_t, TPxDeleter>;

// pxlib reports through this callback; a benchmark only needs to stay quiet.
void IgnoreError(pxdoc_t*, int, const char*, void*) {}
}  // namespace

bool PxlibAvailable() {
  return true;
}

std::optional<TPxReadResult> PxlibReadAll(const std::string& Path) {
  static const bool Booted = (PX_boot(), true);
  (void)Booted;
  TPxPtr Doc(PX_new3(IgnoreError, nullptr, nullptr, nullptr, nullptr));
  if (!Doc) throw Exception("pxlib: sin memoria al abrir '" + Path + "'");
  if (PX_open_file(Doc.get(), Path.c_str()) < 0)
    throw Exception("pxlib no puede abrir '" + Path + "'");
  pxhead_t* Head = Doc->px_head;
  int Fields = PX_get_num_fields(Doc.get());
  int Records = PX_get_num_records(Doc.get());
  pxfield_t* F = PX_get_fields(Doc.get());
  std::unique_ptr<char[]> Data(new char[static_cast<size_t>(Head->px_recordsize)]);
  TPxReadResult R;
  for (int Rec = 0; Rec < Records; ++Rec) {
    if (!PX_get_record(Doc.get(), Rec, Data.get()))
      throw Exception("pxlib no puede leer el registro " + std::to_string(Rec + 1) + " de '" +
                      Path + "'");
    char* P = Data.get();
    for (int I = 0; I < Fields; ++I) {
      switch (F[I].px_ftype) {
        case pxfAlpha: {
          char* Text = nullptr;
          if (PX_get_data_alpha(Doc.get(), P, F[I].px_flen, &Text) > 0 && Text) {
            R.Checksum += static_cast<unsigned char>(Text[0]);
            Doc->free(Doc.get(), Text);
          }
          break;
        }
        case pxfShort: {
          short V = 0;
          if (PX_get_data_short(Doc.get(), P, F[I].px_flen, &V) > 0) R.Checksum += V;
          break;
        }
        case pxfLong:
        case pxfAutoInc:
        case pxfDate:
        case pxfTime: {
          long V = 0;
          if (PX_get_data_long(Doc.get(), P, F[I].px_flen, &V) > 0)
            R.Checksum += static_cast<double>(V);
          break;
        }
        case pxfNumber:
        case pxfCurrency:
        case pxfTimestamp: {
          double V = 0;
          if (PX_get_data_double(Doc.get(), P, F[I].px_flen, &V) > 0) R.Checksum += V;
          break;
        }
        case pxfLogical: {
          char V = 0;
          if (PX_get_data_byte(Doc.get(), P, F[I].px_flen, &V) > 0) R.Checksum += V;
          break;
        }
        default:
          break;
      }
      P += F[I].px_flen;
    }
    ++R.Records;
  }
  return R;
}

#else

bool PxlibAvailable() {
  return false;
}
std::optional<TPxReadResult> PxlibReadAll(const std::string&) {
  return std::nullopt;
}

#endif
