/* Identifiers of Quorvane's resources and controls. */
#ifndef QV_RESOURCE_H
#define QV_RESOURCE_H

#define IDD_RESULTS 101
#define IDR_RESULTS_MENU 103
#define IDI_APP 103
#define IDI_WINDOW_SMALL 104
#define IDI_WINDOW_BIG 105
#define IDD_MAIN 106

#define IDC_ABOUT 1000
#define IDC_QUERY 1001
#define IDC_SAVE 1001
#define IDC_INPUT 1002
#define IDC_RESULT_LIST 1003

#define IDM_COPY 40000

#endif /* QV_RESOURCE_H */
