// The business side of the simulated center: a request message (GBK XML) in, the reply message
// (GBK XML) out, dispatched on the request's first FunctionID. docs/center-sim.md lists the
// functions and what each one checks and answers.
#ifndef QX_TOOLS_CENTER_SIM_CENTER_BUSINESS_H_
#define QX_TOOLS_CENTER_SIM_CENTER_BUSINESS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace qx::sim {

struct BusinessSettings {
  std::string login_user = "admin";        // parameters/user accepted by function "0"
  std::string login_password = "123456";   // parameters/password accepted by function "0"
  std::string token = "QXTOKEN-20240001";  // handed out by "0", expected in addition-xml/row1/add1
  std::string center_id = "430100";
  std::string staff_id = "0701";
  std::string staff_name = "王秀兰";       // UTF-8; leaves as GBK
  std::size_t max_catalog_rows = 1000000;  // bound on function "21"
};

class CenterBusiness {
 public:
  explicit CenterBusiness(BusinessSettings settings);

  // The reply to one request body, GBK bytes.
  std::string Answer(std::string_view gbk_request) const;

 private:
  std::string Catalog(std::size_t rows) const;

  BusinessSettings settings_;
};

}  // namespace qx::sim

#endif  // QX_TOOLS_CENTER_SIM_CENTER_BUSINESS_H_
