# Tag Cantorell: `make run` starts the window, `make test` runs every test.
# Both install the Debian packages they lack first (with sudo when not root).

BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR     ?= build-fuzz
BENCH_DIR    ?= build-bench
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 600
PREFIX       ?= /usr/local
# WERROR=ON makes every compiler warning of the build an error (CI builds this way).
WERROR       ?= OFF

# What the build and the tests need, and what the window needs to run.
BUILD_PACKAGES = cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev \
                 libgmock-dev libtag1-dev lame acl zlib1g-dev python3-mutagen
RUN_PACKAGES   = qt6-qpa-plugins qt6-image-formats-plugins xvfb xauth
# The validators the test suite runs on the desktop entry and the AppStream data.
TEST_PACKAGES  = desktop-file-utils appstream
# What CPack needs to find the Debian package's dependencies.
PACKAGE_PACKAGES = dpkg-dev file
EXTRA_PACKAGES = clang libclang-rt-14-dev libbenchmark-dev clang-format

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Installs the listed packages that are not installed yet.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" \
	    || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: all deps build run test sanitize install package icons fuzz bench format clean

all: build

deps:
	$(call install_missing,$(BUILD_PACKAGES) $(RUN_PACKAGES))

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCANTORELL_WERROR=$(WERROR)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "Tag Cantorell is a desktop program and needs a display (none is set)."; \
	  echo "Run it on a desktop, or under a virtual display:"; \
	  echo "  xvfb-run -a $(BUILD_DIR)/app/tagcantorell"; \
	  exit 1; \
	fi
	$(BUILD_DIR)/app/tagcantorell

test: build
	$(call install_missing,$(TEST_PACKAGES))
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer; any
# report stops the test that made it and fails the run.
sanitize: deps
	$(call install_missing,$(EXTRA_PACKAGES) $(TEST_PACKAGES))
	@[ -f $(SANITIZE_DIR)/build.ninja ] || cmake -S . -B $(SANITIZE_DIR) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DCANTORELL_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Installs into PREFIX (/usr/local unless given), under DESTDIR when that is set.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# A Debian package of the installed files, in BUILD_DIR.
package: build
	$(call install_missing,$(PACKAGE_PACKAGES))
	cd $(BUILD_DIR) && cpack -G DEB
	@ls $(BUILD_DIR)/*.deb

# Renders the committed PNG icons again from the SVG, after the SVG changes.
APP_ICON = data/icons/org.tagcantorell.TagCantorell
icons:
	$(call install_missing,librsvg2-bin)
	for size in 48 256; do \
	  rsvg-convert -w $$size -h $$size $(APP_ICON).svg -o $(APP_ICON)-$$size.png || exit 1; done

# libFuzzer targets built with clang; each runs FUZZ_SECONDS seconds, every target even
# after one has found something. Only a finding (a crash, a leak, a timeout or running
# out of memory, saved in fuzz/ as crash-*, leak-*, timeout-* or oom-*) fails the run.
fuzz: deps
	$(call install_missing,$(EXTRA_PACKAGES))
	@[ -f $(FUZZ_DIR)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCANTORELL_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@failed=""; ran=0; \
	for target in $(FUZZ_DIR)/fuzz/fuzz_*; do \
	  [ -f $$target ] && [ -x $$target ] || continue; \
	  name=$$(basename $$target); mkdir -p fuzz/corpus/$$name; ran=$$((ran + 1)); \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=fuzz/ \
	    $$( [ -f fuzz/$$name.dict ] && echo -dict=fuzz/$$name.dict ) \
	    fuzz/corpus/$$name $$( [ -d fuzz/seeds/$$name ] && echo fuzz/seeds/$$name ) \
	    || failed="$$failed $$name"; \
	done; \
	if [ $$ran = 0 ]; then echo "No fuzz target was built."; exit 1; fi; \
	if [ -n "$$failed" ]; then echo "Findings in:$$failed (see fuzz/)"; exit 1; fi; \
	echo "$$ran fuzz targets ran without a finding."

bench: deps
	$(call install_missing,$(EXTRA_PACKAGES))
	@[ -f $(BENCH_DIR)/build.ninja ] || cmake -S . -B $(BENCH_DIR) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Release -DCANTORELL_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)

format:
	find platform tags support settings browse app tests bench fuzz \
	  \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | xargs -r clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(BENCH_DIR)
