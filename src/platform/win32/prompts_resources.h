// Identifiers of the dialog templates in prompts.rc, shared by the resource script, the code
// that shows the dialogs and the tests that check them. Plain #defines: windres reads this file.
#ifndef QX_PLATFORM_WIN32_PROMPTS_RESOURCES_H_
#define QX_PLATFORM_WIN32_PROMPTS_RESOURCES_H_

// The card password: a bare popup with a group box, a masked edit and a hidden default button.
#define QX_IDD_PASSWORD 7000
#define QX_IDC_PASSWORD_EDIT 7000
#define QX_IDC_PASSWORD_GROUP 7001

// User name and password for a center that asks for them.
#define QX_IDD_CREDENTIALS 7010
#define QX_IDC_CREDENTIALS_USER 7011
#define QX_IDC_CREDENTIALS_PASSWORD 7012

#endif  // QX_PLATFORM_WIN32_PROMPTS_RESOURCES_H_
