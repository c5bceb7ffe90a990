void ruvo_linux_anchor() {}
