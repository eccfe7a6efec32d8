// Helpers for tests that drive real windows under Wine (being filled in).
#pragma once
