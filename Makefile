# The two set-up commands: `make demo` and `make test`. Both install what they
# need (apt as root), then build the host tools, the 32-bit product and the
# 64-bit test build.
SHELL := /bin/bash
ROOT := $(CURDIR)
BUILD := $(ROOT)/build
JOBS ?= 2
# Tests run side by side: most of their time is spent waiting on wine.
TEST_JOBS ?= 2
# One build at a time on this machine, whoever starts it.
LOCK := flock $(BUILD)/.lock
PAYLOAD := $(BUILD)/host/payload/payload.mfz
# The payload's files: the vendor's, or the sample stand-ins the build makes.
BENCH_FILES := $(if $(PRODUCT_FILES),$(abspath $(PRODUCT_FILES)),$(BUILD)/host/payload/files)
CMAKE_COMMON := -DCMAKE_BUILD_TYPE=Release
# A vendor's build: `make PRODUCT_FILES=/path/to/files VENDOR_SITE=www.vendor.cn VENDOR_NAME=...`.
ifdef PRODUCT_FILES
CMAKE_COMMON += -DMOFA_PRODUCT_FILES=$(abspath $(PRODUCT_FILES))
endif
ifdef VENDOR_SITE
CMAKE_COMMON += -DMOFA_VENDOR_SITE=$(VENDOR_SITE)
endif
ifdef VENDOR_NAME
CMAKE_COMMON += -DMOFA_VENDOR_NAME=$(VENDOR_NAME)
endif
# `make PAYLOAD_PACKING=fast` packs the payload with zlib instead of zopfli.
ifdef PAYLOAD_PACKING
CMAKE_COMMON += -DMOFA_PAYLOAD_PACKING=$(PAYLOAD_PACKING)
endif

.PHONY: all bootstrap build host win32 win64 test test-host demo fuzz bench sign clean

all: build

bootstrap:
	@bash scripts/bootstrap.sh

$(BUILD):
	@mkdir -p $(BUILD)

host: bootstrap | $(BUILD)
	@$(LOCK) cmake -S . -B $(BUILD)/host $(CMAKE_COMMON) >/dev/null
	@$(LOCK) cmake --build $(BUILD)/host -j $(JOBS)

win32: host
	@$(LOCK) cmake -S . -B $(BUILD)/win32 $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/toolchain-i686-mingw.cmake -DMOFA_PAYLOAD=$(PAYLOAD) >/dev/null
	@$(LOCK) cmake --build $(BUILD)/win32 -j $(JOBS)

win64: host
	@$(LOCK) cmake -S . -B $(BUILD)/win64 $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/toolchain-x86_64-mingw.cmake -DMOFA_PAYLOAD=$(PAYLOAD) -DMOFA_HOST_BUILD=$(BUILD)/host -DMOFA_WIN32_BUILD=$(BUILD)/win32 >/dev/null
	@$(LOCK) cmake --build $(BUILD)/win64 -j $(JOBS)

build: host win32 win64

# Every test (host, product checks, Windows-side and end-to-end) is
# registered in the 64-bit build, so one ctest run ends with one summary;
# then why any test was skipped (ctest does not say).
test: build
	@cd $(BUILD)/win64 && { ctest --output-on-failure -j $(TEST_JOBS); rc=$$?; \
	  grep -h 'SKIPPED:' Testing/Temporary/LastTest.log || true; exit $$rc; }

test-host: host
	cd $(BUILD)/host && ctest --output-on-failure

# Every fuzzer (built by the host build when clang++ is present) for
# FUZZ_SECONDS each, one after the other, each with its own corpus in
# build/fuzz/NAME; and the benchmark: extraction and packing, the program's
# size beside a peer installer of the same files, and install times beside
# that installer's under wine.
FUZZ_SECONDS ?= 60
# Paired rounds of the install bench.
BENCH_ROUNDS ?= 5
FUZZERS := archive_fuzz input_fuzz
fuzz: host
	@for f in $(FUZZERS); do test -x $(BUILD)/host/fuzz/$$f || { echo "make fuzz: the fuzzers need clang++" >&2; exit 1; }; done
	@for f in $(FUZZERS); do echo "== $$f"; bash tests/fuzz/run.sh $(BUILD)/host/fuzz/$$f $(FUZZ_SECONDS) $(BUILD)/fuzz/$$f || exit 1; done

bench: host win32 win64
	@$(LOCK) cmake --build $(BUILD)/host --target archive_bench -j $(JOBS)
	@$(LOCK) $(BUILD)/host/tests/bench/archive_bench
	@bash tests/bench/peer_installer.sh $(BUILD)/win32/mofasetup.exe $(PAYLOAD) $(BENCH_FILES) \
	  resources/payload/manifest.txt $(BUILD)/bench
	@bash tests/bench/install_bench.sh $(BUILD)/win32/mofasetup.exe $(BUILD)/win64/mofasetup.exe \
	  $(BUILD)/bench/peer-setup.exe $(BUILD)/bench/peer-setup64.exe $(BUILD)/bench/install $(BENCH_ROUNDS)

# Authenticode: `make sign PFX=vendor.pfx PASS=... [TIMESTAMP=http://...]`.
sign: win32
	@test -n "$(PFX)" || { echo "usage: make sign PFX=certificate.pfx PASS=password [TIMESTAMP=url]" >&2; exit 2; }
	@bash scripts/sign.sh $(BUILD)/win32/mofasetup.exe "$(PFX)" "$(PASS)" "$(TIMESTAMP)" "$(VENDOR_SITE)"

demo: build
	@bash scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
