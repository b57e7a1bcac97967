# Homebrew formula: this repository is its own tap. Installs the tool, the simulated harness and
# the MCP server (chrome-private-input-mcp), built from source as the release build is: uriparser
# and utf8proc linked statically, since the hardened runtime's library validation refuses
# Homebrew's dylibs in a signed executable.
#
#   brew tap local/chrome-private-input /path/to/this/repository   (or its git URL)
#   brew install --HEAD local/chrome-private-input/chrome-private-input
class ChromePrivateInput < Formula
  desc "Types a secret into Chrome's focused field after checking profile, origin and field"
  license "Apache-2.0"
  # The source is the tap itself: the clone of this repository that `brew tap` made.
  head "file://#{File.expand_path("..", __dir__)}", using: :git

  depends_on "cmake" => :build
  depends_on "ninja" => :build
  depends_on "nlohmann-json" => :build
  depends_on "pkgconf" => :build
  depends_on "utf8proc" => :build
  depends_on :macos
  depends_on "node"

  # Homebrew's uriparser has only its dylib: the static library is built from the same source.
  resource "uriparser" do
    url "https://github.com/uriparser/uriparser/releases/download/uriparser-1.0.0/uriparser-1.0.0.tar.bz2"
    sha256 "0606f62fa9522ae208173bae5258a0d3357961044417ae5ef18dad5ad26b74b1"
  end

  def install
    static_prefix = buildpath/"build/deps/uriparser-static"
    resource("uriparser").stage do
      system "cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
             "-DBUILD_SHARED_LIBS=OFF", "-DURIPARSER_BUILD_TESTS=OFF", "-DURIPARSER_BUILD_DOCS=OFF",
             "-DURIPARSER_BUILD_TOOLS=OFF", "-DCMAKE_INSTALL_PREFIX=#{static_prefix}", "-DCMAKE_INSTALL_LIBDIR=lib"
      system "cmake", "--build", "build"
      system "cmake", "--install", "build"
    end

    system "cmake", "--preset", "release", "-DCPI_BUILD_TESTS=OFF", "-DCPI_BUILD_BENCH=OFF",
           "-DCPI_STATIC_DEPENDENCIES=ON", "-DCMAKE_INSTALL_PREFIX=#{prefix}"
    system "cmake", "--build", "--preset", "release"
    system "cmake", "--install", "build/release"

    cd "clients/node" do
      system "npm", "ci", "--no-audit", "--no-fund"
      system "npm", "run", "build"
      system "npm", "install", *std_npm_args
    end
    bin.install_symlink libexec/"bin/chrome-private-input-mcp"
  end

  def caveats
    <<~EOS
      chrome-private-input works only once macOS trusts it for Accessibility:
        System Settings > Privacy & Security > Accessibility: press +, choose
        #{opt_bin}/chrome-private-input (Cmd-Shift-G takes the path), and switch it on.
      Whatever starts the tool (a terminal, an agent host) may need the same permission.
      Check it with:
        #{opt_bin}/chrome-private-input --trust-check

      The MCP server for agent hosts:
        chrome-private-input-mcp --config FILE
      (the README's "MCP server" shows the configuration and each host's setup).
    EOS
  end

  test do
    assert_match "usage: chrome-private-input-mcp --config FILE", shell_output("#{bin}/chrome-private-input-mcp --help")
    assert_match(/^chrome-private-input-mcp \d+\.\d+\.\d+$/, shell_output("#{bin}/chrome-private-input-mcp --version"))
    assert_path_exists bin/"chrome-private-input"
    assert_path_exists bin/"chrome-private-input-sim"
  end
end
