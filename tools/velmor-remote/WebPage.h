// The web remote's page, one HTML file kept as a resource of the program.
#pragma once

#define IDR_WEB_PAGE 3401
