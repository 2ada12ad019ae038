// The texts the transport shows to the clerk, as GBK bytes (defined in transport_texts.cpp).
#ifndef QX_TRANSPORT_TRANSPORT_TEXTS_H_
#define QX_TRANSPORT_TRANSPORT_TEXTS_H_

namespace qx::transport::texts {

extern const char* const kSystemErrorCaption;  // caption of the box when Connect fails
extern const char* const kErrorCaption;        // caption of the credential and redirect boxes
extern const char* const kInvalidPassword;     // the credentials were not given
extern const char* const kRedirectWithoutLocation;
extern const char* const kRedirectUnparsable;
extern const char* const kRedirectNotHttp;
extern const char* const kRedirectBadStatus;

}  // namespace qx::transport::texts

#endif  // QX_TRANSPORT_TRANSPORT_TEXTS_H_
