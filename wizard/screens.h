// Dialog procedures of the application shell's screens.
#pragma once
#include <windows.h>

INT_PTR CALLBACK AgreementScreen(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);  // 136
INT_PTR CALLBACK SplashScreen(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);     // 103
INT_PTR CALLBACK WelcomePage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);      // 418
